// The fault build's injector. KOBRAT_FAULT="op:N:kind" makes the Nth call
// (counted from 1) of one operation fail; kind is an errno name (EIO,
// ENOSPC, EINTR, ...) or SHORT for a transfer of half the bytes asked for.
// KOBRAT_FAULT_COUNT=file writes, at the end of the run, how many calls of
// each operation were made, one "op count" line each, so that a test can
// walk through every call in turn.
#include "platform/posix/syscalls.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::posix::sys {

namespace {

const char *const OP_NAMES[] = {
    "open_input", "read",   "open_output", "write",    "close",
    "seek",       "exists", "truncate",    "terminal", "reserve"};
constexpr int OP_COUNT = sizeof OP_NAMES / sizeof OP_NAMES[0];
constexpr int SHORT = -1;

struct Plan {
  bool loaded = false;
  int op = -1;
  unsigned long call = 0;
  int kind = 0;
  unsigned long calls[OP_COUNT] = {};
};
Plan plan;

int kind_of(const char *name) {
  static const struct {
    const char *name;
    int value;
  } kinds[] = {{"SHORT", SHORT},   {"EIO", EIO},       {"ENOSPC", ENOSPC},
               {"EINTR", EINTR},   {"EACCES", EACCES}, {"ENOENT", ENOENT},
               {"EDQUOT", EDQUOT}, {"ENXIO", ENXIO}};
  for (const auto &k : kinds)
    if (std::strcmp(k.name, name) == 0)
      return k.value;
  return EIO;
}

void write_counts() {
  const char *path = std::getenv("KOBRAT_FAULT_COUNT");
  if (path == nullptr)
    return;
  FILE *out = std::fopen(path, "w");
  if (out == nullptr)
    return;
  for (int op = 0; op < OP_COUNT; ++op)
    std::fprintf(out, "%s %lu\n", OP_NAMES[op], plan.calls[op]);
  std::fclose(out);
}

void load_plan() {
  plan.loaded = true;
  std::atexit(write_counts);
  const char *wanted = std::getenv("KOBRAT_FAULT");
  if (wanted == nullptr)
    return;
  char name[32], kind[32];
  if (std::sscanf(wanted, "%31[a-z_]:%lu:%31s", name, &plan.call, kind) != 3)
    return;
  for (int op = 0; op < OP_COUNT; ++op)
    if (std::strcmp(OP_NAMES[op], name) == 0)
      plan.op = op;
  plan.kind = kind_of(kind);
}

} // namespace

bool inject(Op op, std::size_t *count) {
  if (!plan.loaded)
    load_plan();
  int index = static_cast<int>(op);
  if (++plan.calls[index] != plan.call || index != plan.op)
    return false;
  if (plan.kind == SHORT) {
    if (count != nullptr && *count > 1)
      *count /= 2;
    return false;
  }
  errno = plan.kind;
  return true;
}

} // namespace platform::posix::sys
