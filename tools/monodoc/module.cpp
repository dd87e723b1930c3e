// The commands of commands.def in one module, handed to the runner as one of them runs. This file
// is built into each module's library with MONODOC_MODULE_<MODULE> defined.

#include "commands.h"
#include "mono_export.h"

namespace monodoc {
namespace {

#define MONODOC_COMMAND(name, module, summary) MONODOC_IN_##module(name, summary)
#define MONODOC_HERE(name, summary) {#name, summary, name##_help, run_##name},
#define MONODOC_IN_core(name, summary)
#ifdef MONODOC_MODULE_ENGINE
#define MONODOC_IN_engine MONODOC_HERE
#else
#define MONODOC_IN_engine(name, summary)
#endif
#ifdef MONODOC_MODULE_DOCUMENTS
#define MONODOC_IN_documents MONODOC_HERE
#else
#define MONODOC_IN_documents(name, summary)
#endif
constexpr Command commands[] = {
#include "commands.def"
};

}  // namespace
}  // namespace monodoc

MONO_API const monodoc::Command* monodoc_module_commands(size_t* count) {
  *count = sizeof monodoc::commands / sizeof monodoc::commands[0];
  return monodoc::commands;
}
