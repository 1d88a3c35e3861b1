#pragma once
// Time integration of rho M u'' + rho d M u' + K u = f. The constructor folds
// the scheme's inertia and damping terms into K once, so that every implicit
// step solves K x = b with the same K; calcRightSide builds b for the coming
// step from the displacement history and advances the kept state.
//
// Borrowed: M, the lumped masses, x, b and the material (the explicit scheme
// shortens the material's time step). Owned: the kept vectors.

#include <cstdint>
#include <memory>

#include "MaterialProperties.h"

template <class T>
class Vector;
template <class T>
class Matrix;
template <class T>
class PackedMatrix;

// Scheme indices as the hierarchy cache stores them.
enum class IntegrationScheme : int {
  Euler = 0,        // consistent mass
  EulerLump = 1,    // lumped mass
  Newmark = 2,      // consistent mass
  NewmarkLump = 3,  // lumped mass
  Static = 4,
  Explizit = 5,  // explicit Euler, lumped mass
  None = 6,      // matrices only: no scheme, never stepped
};

class TimeIntegration {
 public:
  int scheme;
  PackedMatrix<double>* M;     // consistent mass, borrowed
  Vector<double>* lumpedMass;  // lumped mass per unknown, borrowed
  Vector<double>* x;           // displacement, borrowed
  Vector<double>* b;           // right-hand side, borrowed
  MaterialProperties* material;
  uint8_t dim;
  bool frictionOn = false;
  double frictionOffset[3] = {0.0, 0.0, 0.0};  // per axis, this step
  bool implicit = true;
  // Between steps the displacement one step older than x; the work vector of
  // calcRightSide.
  std::unique_ptr<Vector<double>> xPrev;
  // Newmark only (else null): state at the time of xPrev.
  std::unique_ptr<Vector<double>> velocity;
  std::unique_ptr<Vector<double>> acceleration;
  std::unique_ptr<Vector<double>> previousAcceleration;
  double c0 = 0.0, c1 = 0.0, cv = 0.0, ca = 0.0;
  double a0 = 0.0, a2 = 0.0, a3 = 0.0, a6 = 0.0, a7 = 0.0;
  double frictionFactor = 0.0;
  static constexpr double kGamma = 1.0;
  static constexpr double kBeta = 1.2;
  double gamma = kGamma;
  double beta = kBeta;

  // Prints the scheme's line and adds its inertia terms to K (K is not kept).
  // An index outside 0..5 sets nothing up; see checkScheme.
  TimeIntegration(int scheme, PackedMatrix<double>* M, Vector<double>* lumpedMass,
                  Matrix<double>& K, Vector<double>* x, Vector<double>* b,
                  MaterialProperties* material, uint8_t dim);
  ~TimeIntegration();
  TimeIntegration(const TimeIntegration&) = delete;
  TimeIntegration& operator=(const TimeIntegration&) = delete;

  // True for the schemes a simulation can step (0..5); otherwise prints an
  // error line naming the index on standard output. Model loading refuses a
  // model whose scheme fails this test.
  static bool checkScheme(int scheme);
  // The friction below which the scheme's explicit friction term keeps the
  // mean motion of a free body bounded (decaying): infinity where friction
  // has no effect (static, unknown schemes). dt is the configured time step.
  static double maxFriction(int scheme, double damping, double dt);
  // The explicit update is the central difference of rho m u'' + rho d m u'
  // + K u = f; a mode K v = lambda m v stays bounded for
  //   dt < 2 sqrt(rho / lambda)
  // whatever the damping d >= 0 (the damping term is centred too). This is
  // the bound of the largest lambda (estimated, see largestMassEigenvalue);
  // infinity when K has no positive eigenvalue. dt is the step the update
  // takes (a fifth of the configured one).
  static double explicitStepLimit(const Matrix<double>& K, const Vector<double>& lumpedMass,
                                  double density);
  // The largest eigenvalue of diag(m)^-1 K for symmetric K by Lanczos on
  // m^-1/2 K m^-1/2, stopped when ten more steps change it by less than
  // 1e-5 (some 30 products with K on a large mesh): never above it, and a
  // few 1e-5 below it at most. Unknowns without mass take no part.
  static double largestMassEigenvalue(const Matrix<double>& K, const Vector<double>& lumpedMass);
  // A new scheme object when checkScheme passes, else null.
  static TimeIntegration* create(int scheme, PackedMatrix<double>* M, Vector<double>* lumpedMass,
                                 Matrix<double>& K, Vector<double>* x, Vector<double>* b,
                                 MaterialProperties* material, uint8_t dim);

  // Overwrites b for the coming step and advances the kept state. forces is
  // read only with useForces (the step's impulse vector was rebuilt).
  void calcRightSide(bool useForces, const Vector<double>& forces);
  // The explicit scheme's step in place of a solve, after calcRightSide:
  // x_i = (b_i - (K xPrev)_i) / ((rho/dt^2 + rho d/(2 dt)) m_i), K being the
  // plain stiffness. An unknown without mass keeps its previous value.
  void explicitUpdate(const Matrix<double>& K);
  // The load of a force vector f under this scheme's mass: c0 M f, or
  // c0 m_i f_i with lumped mass, or zero (static and any other scheme).
  void forceToLoad(const Vector<double>& f, Vector<double>& y) const;

 private:
  // K += c M, or c diag(m) for the lumped schemes.
  void addMass(Matrix<double>& K, double c) const;
  void eulerRightSide(bool useForces, const double* f);
  void newmarkRightSide(bool useForces, const double* f);
  // b := M w (consistent) or b_i := m_i w_i (lumped), w being xPrev; then
  // xPrev := x.
  void finishRightSide(bool consistent);
};
