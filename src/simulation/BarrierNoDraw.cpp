// Drawing for programs without GL (tests, benchmarks, headless tools):
// barriers draw nothing and hold no GL resources.

#include "Barrier.h"

void Barrier::loadTexture() {}
void Barrier::releaseGLResources() {}

void GroundBarrier::draw(bool) {}
void SphereBarrier::draw(bool) {}
void QuaderBarrier::draw(bool) {}
void BoxBarrier::draw(bool) {}
