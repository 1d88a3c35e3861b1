#pragma once
// Rigid collision obstacles: a ground plane, a sphere, a cuboid that
// vertices stay out of and a box they stay inside. Created by the
// configuration reader, owned by the settings block, moved and tested
// against the watched vertices once per frame on the main thread; a pushed
// vertex gets a correction offset and a one-shot force in the simulation.
//
// Geometry and motion: BarrierGeometry.cpp; collisions: BarrierCollision.cpp;
// texture and drawing: BarrierDraw.cpp in the GL-side target, or
// BarrierNoDraw.cpp for programs without GL (every executable links exactly
// one of the two, through zolt_draw or zolt_nodraw).

#include <string>

class Simulation;

class Barrier {
 public:
  float* positions = nullptr;      // 3 per watched vertex; not owned
  int* indices = nullptr;          // vertex number per watched vertex; not owned
  float* displacements = nullptr;  // 3 per vertex number; not owned
  int count = 0;
  Simulation* target = nullptr;  // receives the responses; not owned
  unsigned int texture = 0;      // GL texture name, 0 = none
  std::string texturePath;
  unsigned int displayList = 0;  // GL display list, 0 = none

  Barrier() = default;
  virtual ~Barrier();
  Barrier(const Barrier&) = delete;
  Barrier& operator=(const Barrier&) = delete;

  virtual void setCollisionData(float* positions, int* indices, float* displacements, int count,
                                Simulation* target);
  virtual void setTexturePath(std::string path);
  virtual void loadTexture();
  virtual void draw(bool textured) = 0;
  virtual void handleCollisions() = 0;
  virtual void setMoving(float dx, float dy, float dz) = 0;
  virtual void resetPosition() = 0;
  virtual void move() = 0;

 protected:
  // Pushes watched vertex number v by w: correction offset and one-shot force.
  void push(int v, const float* w);
  // Deletes the texture and the display list (GL side; nothing without GL).
  void releaseGLResources();
};

class GroundBarrier : public Barrier {
 public:
  float corners[4][3];
  float normal[3];
  float offset;
  float velocity[3] = {0.0f, 0.0f, 0.0f};
  unsigned char moving = 0;
  int stepCount = 0;
  unsigned char listTextured = 0;
  float home[4][3];  // corners when the motion started; resetPosition restores them
  float listOrigin[3] = {0.0f, 0.0f, 0.0f};  // c0 when the display list was built

  // c: the corners c0..c3, x y z each.
  explicit GroundBarrier(const float* c);
  ~GroundBarrier() override;
  void draw(bool textured) override;
  void handleCollisions() override;
  void setMoving(float dx, float dy, float dz) override;
  void resetPosition() override;
  void move() override;
};

class SphereBarrier : public Barrier {
 public:
  float centre[3];
  float radius;
  float velocity[3] = {0.0f, 0.0f, 0.0f};
  unsigned char moving = 0;
  float offsetVector[3] = {0.0f, 0.0f, 0.0f};
  int stepCount = 0;
  float home[3];  // centre when the motion started; resetPosition restores it

  SphereBarrier(const float* centre, float radius);
  ~SphereBarrier() override;
  void draw(bool textured) override;
  void handleCollisions() override;
  void setMoving(float dx, float dy, float dz) override;
  void resetPosition() override;
  void move() override;
};

class QuaderBarrier : public Barrier {
 public:
  float corners[8][3];
  float normals[6][3];
  float offsets[6];
  unsigned char moving = 0;
  float velocity[3] = {0.0f, 0.0f, 0.0f};
  int stepCount = 0;
  float home[8][3];  // corners when the motion started; resetPosition restores them

  // c: the corners c0..c7, x y z each; normals point out of the solid.
  explicit QuaderBarrier(const float* c);
  ~QuaderBarrier() override;
  void draw(bool textured) override;
  void handleCollisions() override;
  void setMoving(float dx, float dy, float dz) override;
  void resetPosition() override;
  void move() override;
};

class BoxBarrier : public Barrier {
 public:
  float corners[8][3];
  float normals[6][3];
  float offsets[6];
  unsigned char listTextured = 0;

  // c: the corners c0..c7, x y z each; normals point into the box.
  explicit BoxBarrier(const float* c);
  ~BoxBarrier() override;
  void draw(bool textured) override;
  void handleCollisions() override;
  void setMoving(float dx, float dy, float dz) override;
  void resetPosition() override;
  void move() override;
};
