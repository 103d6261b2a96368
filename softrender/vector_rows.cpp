// The choice of vector rows: the widest the processor has, chosen once when the program starts.
#include "softrender/vector_rows.h"

namespace {

int BestLevel() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? 2 : 1;
}

const VectorRows* RowsOf(int level) {
  return level >= 2 ? &kVectorRowsAvx2 : level == 1 ? &kVectorRowsSse2 : nullptr;
}

const VectorRows*& Chosen() {
  static const VectorRows* rows = RowsOf(BestLevel());
  return rows;
}

}  // namespace

const VectorRows* ChosenVectorRows() { return Chosen(); }

int SetSoftwareKernelVectorLevel(int level) {
  const int best = BestLevel();
  const int inForce = level < 0 ? 0 : level > best ? best : level;
  Chosen() = RowsOf(inForce);
  return inForce;
}
