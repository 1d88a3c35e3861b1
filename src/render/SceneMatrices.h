#pragma once
// The matrices of the scene pass as pure functions: column-major 4 x 4
// floats as GL loads them, computed in double precision. The scene loads
// them with glLoadMatrixf instead of building them on GL's stacks, so they
// are tested without a window.

struct ShadowMap;

namespace mat4 {

void identity(float* out);
// out = a b; out may be a or b.
void multiply(const float* a, const float* b, float* out);
// The matrices of glOrtho, glFrustum and gluPerspective (fovy in degrees).
void ortho(double left, double right, double bottom, double top, double near, double far,
           float* out);
void frustum(double left, double right, double bottom, double top, double near, double far,
             float* out);
void perspective(double fovy, double aspect, double near, double far, float* out);
// out = m (p, 1): four homogeneous coordinates.
void transformPoint(const float* m, const float* p, double* out);

}  // namespace mat4

// The view matrix of gluLookAt: side = forward x up normalised, up' = side x
// forward, the rows side, up', -forward, then the translation by -eye.
void buildLookAtMatrix(float* out, const float* eye, const float* centre, const float* up);

// A tiled or stereo display. columns x rows tiles cut one frustum; tile
// counts from the left, then from the bottom row. With a separation the
// tile index picks the eye instead: 0 left, 1 right.
struct StereoParams {
  int columns = 1;
  int rows = 1;
  int tile = 0;
  float separation = 0.0f;
  float view[16];  // out: the view matrix of the tile or eye
};

// The off-axis projection (into out) and view matrix (into params->view)
// of the tile or eye: fov in degrees, the whole frustum's aspect per tile.
// Without separation the view looks from eye to centre with up (0, 1, 0);
// with it the eye and the centre move by e = (2 tile - 1) separation / 2
// along x and the frustum shifts by -e near / focal, so both eyes agree on
// the plane at the focal distance.
void buildStereoFrustum(float* out, StereoParams* params, float fov, float aspect, float near,
                        float far, float focal, const float* eye, const float* centre);

// Fits an orthographic light frustum around the box: the light looks from
// light towards the origin (up z; up y when the light lies on the z axis),
// or with a view matrix from light (in eye coordinates) towards the view's
// origin, after the view. The box then maps into [-1, 1]^3 with a margin of
// two shadow-map texels, and into [0, 1]^3 through shadowTextureMatrix.
void computeLightMatrices(ShadowMap* sm, const float* light, const float* boxMin,
                          const float* boxMax, const float* view);

// The scene projection: side 0 with perspective gluPerspective(45, aspect,
// 0.2, 100); side 0 without it an orthographic box |zoom| high (zoom is the
// negative view distance) and aspect |zoom| wide, depth -100..100; side -1 or
// +1 the left or right eye of a stereo pair 0.04 apart, focal distance 1.
// A window of height 0 counts as height 1.
void sceneProjection(int side, bool perspective, float zoom, int width, int height, float* out);
