#include "app/outcome.h"

namespace outcome {

namespace {
Status g_status = kSuccess;
}

void Set(Status status) { g_status = status; }

Status Get() { return g_status; }

}  // namespace outcome
