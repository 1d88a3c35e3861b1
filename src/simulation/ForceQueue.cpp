#include "ForceQueue.h"

#include <algorithm>

#include "Matrix.h"

void queueForce(ForceQueue& queue, uint32_t dof, const double* value, uint8_t dim, bool active) {
  ForceRecord r;
  r.dof = dof;
  r.value[0] = value[0];
  r.value[1] = value[1];
  r.value[2] = dim == 3 ? value[2] : 0.0;
  r.counter = 0;
  r.active = active ? 1 : 0;
  queue.push_back(r);
}

namespace {

void addScaledRecord(const ForceRecord& r, double w, uint8_t dim, double* out) {
  double* d = out + r.dof;
  d[0] += w * r.value[0];
  d[1] += w * r.value[1];
  if (dim == 3) d[2] += w * r.value[2];
}

}  // namespace

HeldRamp::HeldRamp(const float* norm, uint8_t d)
    : forceNorm(norm),
      dim(d),
      weights{1.0f / 70.0f, 8.0f / 70.0f, 28.0f / 70.0f, 56.0f / 70.0f, 1.0f} {}

void HeldRamp::apply(ForceQueue& queue, Vector<double>& b) const {
  // Records leave from the middle; the others keep their order.
  auto kept = queue.begin();
  for (ForceRecord& r : queue) {
    const float w = *forceNorm * weights[r.counter];
    addScaledRecord(r, static_cast<double>(w), dim, b.data);
    bool keep = true;
    if (r.active) {
      if (r.counter < 4) ++r.counter;
    } else if (r.counter > 0) {
      --r.counter;
    } else {
      keep = false;
    }
    if (keep) *kept++ = r;
  }
  queue.erase(kept, queue.end());
}

void HeldRamp::release(ForceQueue& queue) {
  for (ForceRecord& r : queue) r.active = 0;
  queue.erase(std::remove_if(queue.begin(), queue.end(),
                             [](const ForceRecord& r) { return r.counter == 0; }),
              queue.end());
}

ImpulseRamp::ImpulseRamp(uint8_t d)
    : dim(d), weights{1.0f / 16.0f, 4.0f / 16.0f, 6.0f / 16.0f, 4.0f / 16.0f, 1.0f / 16.0f} {}

void ImpulseRamp::apply(ForceQueue& queue, Vector<double>& f) const {
  std::fill(f.data, f.data + f.n, 0.0);
  auto kept = queue.begin();
  for (ForceRecord& r : queue) {
    if (r.active) {
      addScaledRecord(r, static_cast<double>(weights[r.counter]), dim, f.data);
      if (++r.counter < 5) *kept++ = r;
    } else {
      addScaledRecord(r, 1.0, dim, f.data);
    }
  }
  queue.erase(kept, queue.end());
}
