// clang-format off
#include <GL/glew.h>  // before any other GL header
#include <GL/freeglut.h>
// clang-format on

#include "PanelGlut.h"

#include <imgui.h>
#include <imgui_impl_opengl2.h>

#include "PanelMaster.h"

namespace panel {

namespace {

int attachedWindow = 0;
bool rendererReady = false;
int lastFrameMs = -1;

void keyboardHook(unsigned char key, int x, int y) { Master::get().keyboard(key, x, y); }
void specialHook(int key, int x, int y) { Master::get().special(key, x, y); }
void mouseHook(int button, int state, int x, int y) { Master::get().mouse(button, state, x, y); }
void motionHook(int x, int y) { Master::get().motion(x, y); }
void passiveMotionHook(int x, int y) { Master::get().passiveMotion(x, y); }
void entryHook(int state) { Master::get().entry(state); }

void dispatchTimer(int) {
  Master::get().dispatch();
  Master::get().redraw();
}

// The draw state the OpenGL 2 back end does not set itself.
struct SavedState {
  GLint program, arrayBuffer, elementBuffer, framebuffer, activeTexture, clientTexture, matrixMode;

  SavedState() {
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &arrayBuffer);
    glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &elementBuffer);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &activeTexture);
    glGetIntegerv(GL_CLIENT_ACTIVE_TEXTURE, &clientTexture);
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT);
    glUseProgram(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glActiveTexture(GL_TEXTURE0);
    glClientActiveTexture(GL_TEXTURE0);
    for (GLenum cap :
         {GLenum(GL_TEXTURE_1D), GLenum(GL_TEXTURE_3D), GLenum(GL_TEXTURE_CUBE_MAP), GLenum(GL_FOG),
          GLenum(GL_ALPHA_TEST), GLenum(GL_TEXTURE_GEN_S), GLenum(GL_TEXTURE_GEN_T)})
      glDisable(cap);
    for (int i = 0; i < 6; ++i) glDisable(GL_CLIP_PLANE0 + i);
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
  }

  ~SavedState() {
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glMatrixMode(matrixMode);
    glPopAttrib();
    glUseProgram(program);
    glBindBuffer(GL_ARRAY_BUFFER, arrayBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, elementBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glActiveTexture(activeTexture);
    glClientActiveTexture(clientTexture);
  }
};

}  // namespace

void attachGlut(int window) {
  attachedWindow = window;
  glutSetWindow(window);
  glutKeyboardFunc(keyboardHook);
  glutSpecialFunc(specialHook);
  glutMouseFunc(mouseHook);
  glutMotionFunc(motionHook);
  glutPassiveMotionFunc(passiveMotionHook);
  glutEntryFunc(entryHook);
  Master& m = Master::get();
  m.postRedisplay = [] { glutPostWindowRedisplay(attachedWindow); };
  m.scheduleDispatch = [] { glutTimerFunc(0, dispatchTimer, 0); };
  ImGui::SetCurrentContext(m.context());
  rendererReady = ImGui_ImplOpenGL2_Init();
}

void detachGlut() {
  if (!rendererReady) return;
  ImGui::SetCurrentContext(Master::get().context());
  ImGui_ImplOpenGL2_Shutdown();
  rendererReady = false;
  Master::get().postRedisplay = nullptr;
}

void setKeyboardFunc(void (*f)(unsigned char, int, int)) {
  Master::get().keyboardFunc = f;
  glutKeyboardFunc(keyboardHook);
}
void setSpecialFunc(void (*f)(int, int, int)) {
  Master::get().specialFunc = f;
  glutSpecialFunc(specialHook);
}
void setMouseFunc(void (*f)(int, int, int, int)) {
  Master::get().mouseFunc = f;
  glutMouseFunc(mouseHook);
}
void setMotionFunc(void (*f)(int, int)) {
  Master::get().motionFunc = f;
  glutMotionFunc(motionHook);
}
void setPassiveMotionFunc(void (*f)(int, int)) {
  Master::get().passiveMotionFunc = f;
  glutPassiveMotionFunc(passiveMotionHook);
}
void setEntryFunc(void (*f)(int)) {
  Master::get().entryFunc = f;
  glutEntryFunc(entryHook);
}

void drawOverlay() {
  Master& m = Master::get();
  if (!rendererReady || !m.anyVisible()) return;
  const int now = glutGet(GLUT_ELAPSED_TIME);
  const float seconds = lastFrameMs < 0 ? 1.0f / 60.0f : 0.001f * float(now - lastFrameMs);
  lastFrameMs = now;
  ImGui::SetCurrentContext(m.context());
  ImGui_ImplOpenGL2_NewFrame();
  if (!m.frame(float(glutGet(GLUT_WINDOW_WIDTH)), float(glutGet(GLUT_WINDOW_HEIGHT)), seconds))
    return;
  SavedState saved;
  ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
}

}  // namespace panel
