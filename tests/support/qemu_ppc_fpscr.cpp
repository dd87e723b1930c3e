// The C library's maths routines read the floating-point status with an instruction form that
// newer processors define and older ones execute as the plain status read. Real 32-bit PowerPC
// hardware takes it that way; user-mode qemu refuses it with SIGILL on every 32-bit model it
// offers, so sin, cos or atan2 would kill a test under emulation. Test executables of the
// cross build carry this handler, which performs the plain read in the emulated context and
// resumes after the instruction; any other illegal instruction still ends the process.
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ucontext.h>

namespace {

constexpr unsigned kNipRegister = 32;
constexpr uint32_t kPrimaryOpcode = 63;
constexpr uint32_t kReadStatusFamily = 583;  // extended opcode shared by the status-read forms

void on_illegal_instruction(int sig, siginfo_t*, void* context) {
  auto* uc = static_cast<ucontext_t*>(context);
  mcontext_t* mc = uc->uc_mcontext.uc_regs;
  uint32_t insn;
  std::memcpy(&insn, reinterpret_cast<const void*>(mc->gregs[kNipRegister]), sizeof insn);
  if ((insn >> 26) == kPrimaryOpcode && ((insn >> 1) & 0x3ffu) == kReadStatusFamily) {
    mc->fpregs.fpregs[(insn >> 21) & 31u] = mc->fpregs.fpscr;
    mc->gregs[kNipRegister] += 4;
    return;
  }
  std::signal(sig, SIG_DFL);
}

[[maybe_unused]] const bool installed = [] {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = on_illegal_instruction;
  sa.sa_flags = SA_SIGINFO;
  return sigaction(SIGILL, &sa, nullptr) == 0;
}();

}  // namespace
