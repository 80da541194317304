#include "cli/chip_commands.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <thread>

#include "chiplink/discovery.h"
#include "chiplink/i2c.h"
#include "chiplink/linkstate.h"
#include "chiplink/registers.h"
#include "chiplink/startup.h"
#include "cli/image_file.h"
#include "flash/Actionthread.h"
#include "flash/device.h"
#include "flash/gui_loop.h"
#include "flash/iap.h"
#include "image/buffer.h"

namespace morvane::cli {
namespace {

constexpr char kNoIapText[] = "No IAP found!";
constexpr char kResetText[] = "Please reset system to start IAP";
constexpr char kIapEnteredText[] = "Firmware has enterd into IAP, Morvane will be closed";

std::string Hex(uint32_t value, int width = 0) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", width, value);
  return text;
}

// Ctrl-C during a job asks it to terminate; the GUI loop passes the request on.
std::atomic<bool> g_interrupted{false};
extern "C" void OnInterrupt(int) { g_interrupted.store(true); }

class InterruptGuard {
 public:
  InterruptGuard() {
    g_interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

// The link and the device as the main window has them after start-up.
struct Session {
  std::unique_ptr<VELQ> link;
  DeviceSetup setup;
  bool iap = false;
};

LinkOptions OptionsFrom(const ParsedArgs& args) {
  LinkOptions options;
  if (const std::string* file = args.Value("config")) options.configFile = *file;
  if (const std::string* adapter = args.Value("adapter")) options.adapter = *adapter;
  for (const std::string& setting : args.Values("sim")) {
    const std::size_t eq = setting.find('=');
    if (eq == std::string::npos || eq == 0)
      throw UsageError("--sim takes KEY=VALUE, not '" + setting + "'");
    options.simSettings.emplace_back(setting.substr(0, eq), setting.substr(eq + 1));
  }
  if (const std::string* trace = args.Value("trace")) options.traceFile = *trace;
  return options;
}

// Device set-up, as the main window runs it once the IAP firmware answers.
std::optional<int> SetUpDevice(Context& context, Session& session) {
  try {
    session.setup = SetupDevice(VELQ::Settings().configFile);
  } catch (const DeviceEntryError& error) {
    context.err << kProgram << ": " << error.what() << "\n"
                << kProgram << ": correct that entry in " << VELQ::Settings().configFile.string() << "\n";
    return kExitNoDevice;
  }
  if (session.setup.outcome == DeviceSetup::Outcome::kReady) return std::nullopt;
  context.err << session.setup.message << "\n";
  if (session.setup.outcome == DeviceSetup::Outcome::kUnsupported)
    context.err << kProgram << ": no entry of [" << kDeviceSection << "] in " << VELQ::Settings().configFile.string()
                << " has the flash id " << Hex(session.setup.word, 4) << "\n";
  return kExitNoDevice;
}

// Start-up and the IAP query, then (with setUp and the firmware running)
// device set-up. Returns an exit status when the command cannot go on.
std::optional<int> StartSession(Context& context, Session& session, bool setUp = true) {
  const LinkOptions options = OptionsFrom(context.args);
  // Start-up ends the process with status 1 and its message when no chip answers.
  session.link = std::make_unique<VELQ>(options);
  session.iap = IapQuery() == kIapRunning;
  if (!setUp) return std::nullopt;
  if (!session.iap) {
    context.err << kNoIapText << "\n"
                << kProgram << ": the chip's IAP firmware does not answer; run '" << kProgram
                << " enter-iap' and reset the board when asked\n";
    return kExitNoDevice;
  }
  return SetUpDevice(context, session);
}

// The main window, as far as the jobs see it, on the terminal.
class TerminalHost final : public JobHost {
 public:
  TerminalHost(Context& context, const DeviceSetup& setup, bool verify, bool untilSuccess)
      : context_(context), setup_(setup), verify_(verify), untilSuccess_(untilSuccess) {
    bar_ = &context.out == &std::cout && isatty(STDOUT_FILENO);
    const std::string end = Hex(setup.device->deviceEnd, 5);
    fields_ = {{RangeField::kDevStart, "0"}, {RangeField::kDevEnd, end}, {RangeField::kBufStart, "0"},
               {RangeField::kBufEnd, end}};
  }

  void Synchronize(const std::function<void()>& fn) override { loop_.Synchronize(fn); }
  void EnableCommands(bool) override {}
  void SetLockBootBlockEnabled(bool) override {}
  void SetBusyCursor(bool) override {}
  void SetProgress(int position) override {
    progress_ = position;
    Draw();
  }
  // The panel text that begins and ends a job: the end is told by JobEnded.
  void SetStatusText(const std::string&) override {}
  void ShowStatus(const std::string& status, const std::string& detail) override {
    if (status == status_ && detail == detail_) return;
    status_ = status;
    detail_ = detail;
    if (!bar_ && !status_.empty()) {
      context_.out << status_ << "\n";
      if (!detail_.empty()) context_.out << detail_ << "\n";
      context_.out << std::flush;
      printed_ = status_ + "\n" + detail_;
    }
    Draw();
  }
  void SetCancelEnabled(bool) override {}
  bool VerifyAfterWrite() override { return verify_; }
  bool WriteTillSuccess() override { return untilSuccess_; }
  std::string RangeText(RangeField field) override { return fields_[field]; }
  void SetRangeText(RangeField field, const std::string& text) override { fields_[field] = text; }
  int32_t SelectedPageSize() override { return setup_.device->pageSize; }
  bool UnprotectFlag() override { return setup_.device->unprotect; }
  bool WholeChipFlag() override { return setup_.device->wholeChip; }
  bool BootLocked() override { return setup_.bootLocked; }
  TBuffer* Buffer() override { return image_; }
  void ShowBuffer(TBuffer&) override {}
  void SetJob(ActionThread* job) override { job_ = job; }
  void JobEnded(const std::string& status, const std::string& detail) override {
    if (bar_) context_.out << "\r\033[K";
    // Without the bar the status lines are out already, unless they changed.
    if (bar_ || status + "\n" + detail != printed_) {
      if (!status.empty() && (bar_ || status != printed_.substr(0, printed_.find('\n')))) context_.out << status << "\n";
      if (!detail.empty()) context_.out << detail << "\n";
    }
    context_.out << std::flush;
    status_.clear();
    detail_.clear();
    printed_.clear();
    lastStatus_ = status;
  }

  // Runs a job and its chain to the end; Ctrl-C asks the running job to stop.
  std::string Run(JobKind kind, TBuffer& image) {
    image_ = &image;
    InterruptGuard interrupts;
    StartJobFromFields(kind, image, *this);
    loop_.RunUntil([] { return WorkerThread::Running() == 0; },
                   [this] {
                     if (g_interrupted.exchange(false) && job_ && WorkerThread::Running() > 0) job_->Terminate();
                   });
    return lastStatus_;
  }

 private:
  void Draw() {
    if (!bar_ || status_.empty()) return;
    const int width = 40;
    const int filled = std::min(progress_, 100) * width / 100;
    context_.out << "\r\033[K[" << std::string(filled, '#') << std::string(width - filled, '.') << "] "
                 << std::min(progress_, 100) << "% " << status_ << std::flush;
  }

  Context& context_;
  const DeviceSetup& setup_;
  bool verify_, untilSuccess_;
  bool bar_ = false;
  GuiLoop loop_;
  std::map<RangeField, std::string> fields_;
  TBuffer* image_ = nullptr;
  ActionThread* job_ = nullptr;
  std::string status_, detail_, lastStatus_, printed_;
  int progress_ = 0;
};

// A hexadecimal range option as the main window's field holds it (an
// optional "0x" accepted); nothing when it is not given.
std::optional<std::string> RangeOption(const ParsedArgs& args, std::string_view name) {
  const std::string* value = args.Value(name);
  if (!value) return std::nullopt;
  std::string text = *value;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
  try {
    ReadRangeField(text);
  } catch (const RangeFieldError&) {
    throw UsageError("--" + std::string(name) + " takes a hexadecimal address, not '" + *value + "'");
  }
  return text;
}

int ExitFor(Context& context, const std::string& status) {
  if (status == kCanceled) return kExitCanceled;
  if (status == kFail || status == kFailed) return kExitJobFailed;
  if (status.empty()) {
    context.err << kProgram << ": nothing was done: the device end address must lie above the start address\n";
    return kExitUsage;
  }
  return kExitSuccess;
}

int RunJob(Context& context, JobKind kind) {
  // Options are checked before the chip is touched.
  const auto devStart = RangeOption(context.args, "dev-start");
  const auto devEnd = RangeOption(context.args, "dev-end");
  const auto bufStart = RangeOption(context.args, "buf-start");
  const bool untilSuccess = context.args.Has("until-success");
  const bool verify = context.args.Has("verify") || untilSuccess;

  const std::string file = context.args.positional[0];
  std::optional<TBuffer> image;
  if (kind != JobKind::kRead) {
    image = LoadImageFile(context, file, FileTypeFor(file, context.args));
    if (!image) return kExitFileError;
  } else {
    image.emplace("buffer", kBinaryFile);
  }

  Session session;
  if (auto status = StartSession(context, session)) return *status;
  TerminalHost host(context, session.setup, verify, untilSuccess);
  if (kind != JobKind::kRead) {
    // As after loading a file: the end fields follow the image.
    host.SetRangeText(RangeField::kDevStart, "0");
    host.SetRangeText(RangeField::kDevEnd, Hex(static_cast<uint32_t>(image->Length - 1)));
    host.SetRangeText(RangeField::kBufEnd, Hex(static_cast<uint32_t>(image->Length - 1)));
  }
  if (devStart) host.SetRangeText(RangeField::kDevStart, *devStart);
  if (devEnd) host.SetRangeText(RangeField::kDevEnd, *devEnd);
  if (bufStart) host.SetRangeText(RangeField::kBufStart, *bufStart);

  const std::string status = host.Run(kind, *image);
  const int exit = ExitFor(context, status);
  if (exit != kExitSuccess || kind != JobKind::kRead) return exit;
  try {
    image->SaveToFile(file);
  } catch (const FileCreateError& error) {
    context.err << kProgram << ": " << error.what() << "\n";
    return kExitFileError;
  }
  context.out << "Saved " << image->Length << " bytes to " << file << "\n";
  return kExitSuccess;
}

int RunWrite(Context& context) { return RunJob(context, JobKind::kWrite); }
int RunRead(Context& context) { return RunJob(context, JobKind::kRead); }
int RunVerify(Context& context) { return RunJob(context, JobKind::kVerify); }

int RunInfo(Context& context) {
  Session session;
  if (auto status = StartSession(context, session)) return *status;
  std::ostream& out = context.out;
  out << "Adapter:        " << VELQ::Settings().adapter << "\n";
  out << "Port:           " << Hex(BusPort, 3) << (IsVgaPort(BusPort) ? " (VGA DDC)" : " (parallel)") << "\n";
  out << "Slaves found:  ";
  for (int i = 0; i < FoundCount; ++i) out << " " << Hex(FoundSlaves[i].address, 2);
  out << "\nSlave address:  " << Hex(SlaveAddress, 2) << " (kind " << int(SlaveKind) << ")\n";
  out << "Chip id:        " << (ChipId == kUnidentifiedChipId ? std::string("not identified") : Hex(ChipId, 6))
      << ", variant " << Hex(ChipVariant, 2) << "\n";
  out << "IAP answer:     " << int(IapAnswer) << "\n";
  const DeviceSetup& s = session.setup;
  out << "Flash id:       " << Hex(s.word, 4) << "\n";
  out << "Boot block:     " << (!s.bootStateRead ? "unknown" : s.bootLocked ? "locked" : "not locked") << "\n";
  const DeviceEntry& d = *s.device;
  out << "Device:         " << d.name << "\n";
  out << "  page size     " << d.pageSize << "\n";
  out << "  unprotect     " << (d.unprotect ? "yes" : "no") << "\n";
  out << "  whole chip    " << (d.wholeChip ? "yes" : "no") << "\n";
  out << "  end address   " << Hex(d.deviceEnd, 5) << "\n";
  out << "  boot size     " << Hex(s.bootSize, 4) << "\n";
  return kExitSuccess;
}

int ReportChipStatus(Context& context, const char* what, uint8_t status) {
  if (status == 0) {
    context.out << what << ": done\n";
    return kExitSuccess;
  }
  context.out << what << ": the chip answered with error code " << int(status) << "\n";
  return kExitJobFailed;
}

int RunErase(Context& context) {
  Session session;
  if (auto status = StartSession(context, session)) return *status;
  return ReportChipStatus(context, "Erase chip", IapEraseChip());
}

int RunLockBootBlock(Context& context) {
  Session session;
  if (auto status = StartSession(context, session)) return *status;
  IapLockBootBlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  uint16_t state = 0;
  const uint8_t status = IapReadInfo(kInfoBootState, state);
  if (status != 0) {
    context.out << "Lock boot block: the chip did not report the boot block's state (error code " << int(status)
                << ")\n";
    return kExitJobFailed;
  }
  if (!(state & 1)) {
    context.out << "Lock boot block: the boot block is still not locked\n";
    return kExitJobFailed;
  }
  context.out << "Lock boot block: the boot block is locked\n";
  return kExitSuccess;
}

int RunRestart(Context& context) {
  Session session;
  if (auto status = StartSession(context, session)) return *status;
  IapRestart();
  context.out << "Restart device: done\n";
  return kExitSuccess;
}

int RunEnterIap(Context& context) {
  Session session;
  if (auto status = StartSession(context, session, false)) return *status;
  if (session.iap) {
    context.out << "The chip's IAP firmware is running already.\n";
    return kExitSuccess;
  }
  context.out << kResetText << "\n";
  if (&context.out == &std::cout && isatty(STDIN_FILENO)) {
    context.out << "Press Enter, then reset the board (Ctrl-C gives up)." << std::flush;
    std::string line;
    std::getline(std::cin, line);
  }
  // Bounded like the chip's other waits, so that a board nobody resets does
  // not keep the program waiting for ever.
  ChipHandshake(kIapWaitLimitMs, kIapWaitLimitMs);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ApplyRegisterTable(ChipInitTable, 0x00);
  ApplyRegisterPairs(ChipInitPairs);
  if (IapQuery() != kIapRunning) {
    context.err << kIapEnteredText << "\n";
    return kExitNoDevice;
  }
  if (auto status = SetUpDevice(context, session)) return *status;
  context.out << "The chip's IAP firmware is running; device " << session.setup.device->name << " is ready.\n";
  return kExitSuccess;
}

constexpr OptionSpec kRangeOptions[] = {
    {"dev-start", 0, "ADDR", false, "First flash address, hexadecimal (default 0)"},
    {"dev-end", 0, "ADDR", false, "Last flash address, hexadecimal (default: the image's last address; for read, the device's)"},
    {"buf-start", 0, "ADDR", false, "First image address, hexadecimal (default 0)"},
};
constexpr OptionSpec kWriteOptions[] = {
    kTypeOption,
    {"verify", 0, "", false, "Verify After Write: verify the flash against the image afterwards"},
    {"until-success", 0, "", false, "Write Till Success: after a difference, write again from its 256-byte page (implies --verify)"},
    kRangeOptions[0], kRangeOptions[1], kRangeOptions[2],
};
constexpr OptionSpec kVerifyOptions[] = {kTypeOption, kRangeOptions[0], kRangeOptions[1], kRangeOptions[2]};
constexpr OptionSpec kReadOptions[] = {kRangeOptions[0], kRangeOptions[1], kRangeOptions[2]};

constexpr int kJobStatuses[] = {kExitSuccess, kExitLinkFailed, kExitUsage, kExitFileError, kExitNoDevice, kExitJobFailed, kExitCanceled};
constexpr int kChipStatuses[] = {kExitSuccess, kExitLinkFailed, kExitUsage, kExitNoDevice, kExitJobFailed};

const Command kInfo{"info", "", "Show the link, the chip and the matched device",
                    "Starts the link, asks the chip's IAP firmware for its flash id and boot-block state, and shows\n"
                    "the port, the slave addresses found, the chip id and variant, the IAP answer, the flash id, the\n"
                    "boot block's state and the matched device entry with its values.",
                    {}, 0, 0, kChipStatuses, RunInfo};
const Command kWrite{"write", "FILE", "Write an image file into the flash (Write Device)",
                     "Loads FILE, erases the device or marks its boot size, streams the image into the chip and has\n"
                     "it programmed. The bytes from the boot size to the boot size + 0xFF are never programmed.\n"
                     "Ctrl-C stops the job at its next checkpoint.",
                     kWriteOptions, 1, 1, kJobStatuses, RunWrite};
const Command kRead{"read", "FILE", "Read the flash and save it as a binary file (Read Device)",
                    "Has the chip read the device range and streams it into a new image, then saves the image as a\n"
                    "raw binary file (FILE is written only after a successful read).",
                    kReadOptions, 1, 1, kJobStatuses, RunRead};
const Command kVerify{"verify", "FILE", "Verify the flash against an image file (Verify Device)",
                      "Loads FILE and compares the device range with it; the first difference is reported with its\n"
                      "chip and image addresses.",
                      kVerifyOptions, 1, 1, kJobStatuses, RunVerify};
const Command kErase{"erase", "", "Erase the whole flash", "Has the chip erase its whole flash.", {}, 0, 0,
                     kChipStatuses, RunErase};
const Command kLock{"lock-boot-block", "", "Lock the flash's boot block",
                    "Has the chip lock its boot block, then reads the boot block's state back.", {}, 0, 0,
                    kChipStatuses, RunLockBootBlock};
const Command kRestart{"restart", "", "Restart the chip", "Has the chip restart its firmware.", {}, 0, 0,
                       kChipStatuses, RunRestart};
const Command kEnterIap{"enter-iap", "", "Bring a chip whose IAP firmware is not running into it",
                        "Asks you to reset the board, waits (up to a minute in each phase) for the chip to answer on\n"
                        "the bus lines, and then checks that its IAP firmware runs.",
                        {}, 0, 0, kChipStatuses, RunEnterIap};

}  // namespace

const Command& InfoCommand() { return kInfo; }
const Command& WriteCommand() { return kWrite; }
const Command& ReadCommand() { return kRead; }
const Command& VerifyCommand() { return kVerify; }
const Command& EraseCommand() { return kErase; }
const Command& LockBootBlockCommand() { return kLock; }
const Command& RestartCommand() { return kRestart; }
const Command& EnterIapCommand() { return kEnterIap; }

}  // namespace morvane::cli
