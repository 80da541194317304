#include "flash/Actionthread.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <thread>

#include "chiplink/i2c.h"
#include "chiplink/registers.h"
#include "flash/device.h"
#include "flash/iap.h"

namespace morvane {

int ChainPending = 0;

namespace {

std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

template <typename Job>
ActionThread* StartJob(TBuffer& image, int32_t bufStart, int32_t bufEnd, int32_t devStart, int32_t devEnd,
                       uint32_t pageSize, JobHost& host, bool startSuspended) {
  auto* job = new Job(image, bufStart, bufEnd, devStart, devEnd, pageSize, host);
  if (!startSuspended) job->Start();
  return job;
}

}  // namespace

bool ActionThread::ReadFlash(int32_t first, int32_t count) {
  // Up to three attempts while the status is nonzero; the last status counts.
  uint8_t status = 0;
  for (int attempt = 0; attempt < kCommandAttempts; ++attempt) {
    status = IapReadBlock(kReadWorkArea, static_cast<uint16_t>(PageSize), static_cast<uint32_t>(first),
                          static_cast<uint32_t>(count));
    if (status == 0) return true;
  }
  Detail = Format("Error in read flash\n  Address = 0x%X\n  PageSize = %d\n  ErrorCode = %d", DevStart,
                  static_cast<int>(PageSize), status);
  Status = kFailed;
  return false;
}

void ActionThread::OpenReadStream(bool prepare) {
  if (prepare) MemPortPrepare();
  SetMemPointer(kReadChannel, kReadDataAddress);
  RegUpdateBits(kMemControl, 0x10, true);
  BurstBegin(kMemData);
}

int32_t ReadRangeField(const std::string& text) {
  if (text.empty()) throw RangeFieldError("'0x' is not a valid integer value");
  uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      throw RangeFieldError("'0x" + text + "' is not a valid integer value");
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) throw RangeFieldError("'0x" + text + "' is not a valid integer value");
  }
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

ActionThread::ActionThread(TBuffer& image, int32_t bufStart, int32_t bufEnd, int32_t devStart, int32_t devEnd,
                           uint32_t pageSize, JobHost& host)
    : WorkerThread(host),
      MainForm(host),
      BufStart(bufStart),
      BufEnd(bufEnd),
      DevStart(devStart),
      DevEnd(devEnd),
      PageSize(pageSize),
      Buffer(image) {
  MainForm.EnableCommands(false);
}

ActionThread::~ActionThread() = default;

bool ActionThread::CheckCanceled() {
  if (!Terminated()) return false;
  Status = kCanceled;
  return true;
}

void ActionThread::BeginJob() {
  Synchronize([this] {
    MainForm.SetBusyCursor(true);
    MainForm.SetProgress(0);
    MainForm.SetStatusText(Status);
    MainForm.SetCancelEnabled(true);
    unprotect_ = MainForm.UnprotectFlag();
    wholeChip_ = MainForm.WholeChipFlag();
    bootLocked_ = MainForm.BootLocked();
  });
}

void ActionThread::ShowProgress() {
  Synchronize([this] {
    MainForm.ShowStatus(Status, Detail);
    MainForm.SetProgress(Progress);
  });
}

void ActionThread::ShowBuffer() {
  ShowProgress();
  Synchronize([this] { MainForm.ShowBuffer(Buffer); });
}

int32_t ActionThread::StepFor(int32_t n) {
  // Fewer than 96 bytes would make a step of 0: step at every byte instead.
  const int32_t step = n / kProgressSteps;
  return step > 0 ? step : 1;
}

bool ActionThread::StepAt(int32_t i, int32_t step) {
  if (i % step != 0) return true;
  if (CheckCanceled()) return false;
  ++Progress;
  ShowProgress();
  return true;
}

void ActionThread::EndJob() {
  // Every job that ends without handing over ends the chain.
  if (followUp_ == FollowUp::kNone) ChainPending = 0;
  MainForm.SetCancelEnabled(false);
  MainForm.SetProgress(0);
  MainForm.SetStatusText(Status);
  MainForm.SetBusyCursor(false);
  if (ChainPending != 1) {
    MainForm.EnableCommands(true);
    if (MainForm.BootLocked()) MainForm.SetLockBootBlockEnabled(false);
  }
  MainForm.JobEnded(Status, Detail);

  // The hand-over comes after this job's own end, so that the follow-up
  // job's beginning (its Cancel button) is not undone by it.
  if (followUp_ == FollowUp::kNone) return;
  TBuffer* image = MainForm.Buffer();
  if (followUp_ == FollowUp::kWrite) {
    MainForm.SetRangeText(RangeField::kDevStart, nextDevStart_);
    MainForm.SetRangeText(RangeField::kBufStart, nextBufStart_);
  }
  try {
    if (!image) throw RangeFieldError("there is no image to work on");
    StartJobFromFields(followUp_ == FollowUp::kVerify ? JobKind::kVerify : JobKind::kWrite, *image, MainForm);
  } catch (const RangeFieldError& e) {
    ChainPending = 0;
    MainForm.EnableCommands(true);
    if (MainForm.BootLocked()) MainForm.SetLockBootBlockEnabled(false);
    MainForm.JobEnded(kFailed, e.what());
  }
}

void WriteThread::Execute() {
  BeginJob();
  if (!(DevEnd > DevStart)) return;
  const int32_t n = DevEnd - DevStart + 1;

  Status = kDownloading;
  Progress = 1;
  ShowProgress();
  if (CheckCanceled()) return;

  if (unprotect_ && IapSetProtection(0) != 0) {
    Detail = kUnprotectError;
    Status = kFail;
    return;
  }
  if (wholeChip_) {
    if (IapEraseChip() != 0) {
      Detail = kEraseError;
      Status = kFail;
      return;
    }
  } else {
    IapSetMark(BootSize, 0);
  }

  Progress = 2;
  ShowProgress();
  if (CheckCanceled()) return;

  MemPortPrepare();
  SetMemPointer(kWriteChannel, static_cast<uint32_t>(BufStart) + kWriteStreamBase);
  RegWrite(kMemPointerLoad, 0x82);
  BurstBegin(kMemData);
  const int32_t step = StepFor(n);
  for (int32_t i = 0; i < n; ++i) {
    if (!StepAt(i, step)) {
      BurstEnd();
      return;
    }
    I2cBurstByte(Buffer.ByteAt(static_cast<uint32_t>(BufStart + i)));
  }
  BurstEnd();
  MemWriteFinish();

  Status = kWriting;
  ShowProgress();

  // The streamed bytes sit in chip memory at image address + 0x1100; a block
  // that programs flash from address f therefore takes its data from where
  // image address BufStart + (f - DevStart) was streamed.
  const uint32_t bootEnd = uint32_t{BootSize} + 0x100;  // first address after the skipped area
  uint8_t status = 0;
  for (int attempt = 0; attempt < kCommandAttempts; ++attempt) {
    if (wholeChip_) {
      DevStart = 0;
      BufStart = 0;
    }
    status = 0;
    if (DevStart < static_cast<int32_t>(bootEnd)) {
      // Two blocks around the 256 bytes after the boot area, which are never
      // programmed. A block with no bytes is not sent. The boot block's own
      // status does not count when the second block follows (a locked boot
      // block refuses it, and the verify skips it then).
      const int32_t firstCount = int32_t{BootSize} - DevStart;
      const int32_t secondCount = DevEnd - int32_t{BootSize} - 0xFF;
      if (firstCount > 0)
        status = IapProgramBlock(static_cast<uint32_t>(BufStart) + kWriteWorkBase, static_cast<uint16_t>(PageSize),
                                 static_cast<uint32_t>(DevStart), static_cast<uint32_t>(firstCount));
      if (secondCount > 0) {
        const uint32_t work = static_cast<uint32_t>(BufStart - DevStart) + bootEnd + kWriteWorkBase;
        status = IapProgramBlock(work, static_cast<uint16_t>(PageSize), bootEnd, static_cast<uint32_t>(secondCount));
      }
    } else {
      status = IapProgramBlock(static_cast<uint32_t>(BufStart) + kWriteWorkBase, static_cast<uint16_t>(PageSize),
                               static_cast<uint32_t>(DevStart), static_cast<uint32_t>(n));
    }
    if (status == 0) break;
  }

  if (status != 0) {
    // Programming failed three times: say so, and let a verify job (when
    // one follows) find and, with Write Till Success, repair the damage.
    Detail = Format("Program flash rom error! ErrorCode = %d", status);
    Status = kFail;
  } else {
    Status = kDone;
  }
  Progress = 100;
  ShowProgress();

  bool verify = false;
  Synchronize([&] { verify = MainForm.VerifyAfterWrite(); });
  if (verify) {
    ChainPending = 1;
    HandOver(FollowUp::kVerify);
  }
}

void ReadThread::Execute() {
  BeginJob();
  if (!(DevEnd > DevStart)) return;
  const int32_t n = DevEnd - DevStart + 1;

  Status = kReading;
  Progress = 1;
  ShowProgress();
  if (CheckCanceled()) return;

  Buffer.ResetForRead(BufStart + n);

  Progress = 2;
  ShowProgress();
  if (CheckCanceled()) return;

  if (!ReadFlash(DevStart, n)) return;
  OpenReadStream(true);
  const int32_t step = StepFor(n);
  for (int32_t i = 0; i < n; ++i) {
    if (!StepAt(i, step)) {
      BurstEnd();
      return;
    }
    Buffer[static_cast<uint32_t>(BufStart + i)] = I2cReadNext();
  }
  BurstEnd();

  Progress = 98;
  ShowProgress();
  ShowBuffer();
  Status = kSuccess;
  Progress = 100;
  ShowProgress();
}

void VerifyThread::Execute() {
  BeginJob();
  if (!(DevEnd > DevStart)) return;

  int32_t count, first, p;
  if (wholeChip_) {
    count = DevEnd + 1;
    first = 0;
    p = 0;
  } else {
    count = DevEnd - DevStart + 1;
    first = DevStart;
    p = BufStart;
  }

  Status = kVerifying;
  ShowProgress();
  Progress = 2;
  ShowProgress();
  if (CheckCanceled()) return;

  if (!ReadFlash(first, count)) return;
  OpenReadStream(false);  // the verify's stream needs no port preparation
  const int32_t low = bootLocked_ ? 0 : int32_t{BootSize};
  const int32_t high = int32_t{BootSize} + 0xFF;
  const int32_t step = StepFor(count);
  int32_t differsAt = -1;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t chip = I2cReadNext();
    if (!(low <= p && p <= high) && chip != Buffer.ByteAt(static_cast<uint32_t>(p))) {
      differsAt = i;
      break;
    }
    ++p;
    if (!StepAt(i, step)) {
      BurstEnd();
      return;
    }
  }
  BurstEnd();

  if (differsAt < 0) {
    Status = kSuccess;
    ShowProgress();
    ChainPending = 0;
    IapSetMark(BootSize, 1);
    return;
  }

  const int32_t flashAddress = wholeChip_ ? differsAt : DevStart + differsAt;
  Detail = Format("Chip Addr : %08X, Buffer Addr : %08X", flashAddress, p);
  Status = kFailed;
  ShowProgress();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  bool again = false;
  Synchronize([&] { again = MainForm.WriteTillSuccess(); });
  if (again && ChainPending == 1) {
    nextDevStart_ = Format("%X", static_cast<uint32_t>(flashAddress) & ~0xFFu);
    nextBufStart_ = Format("%X", static_cast<uint32_t>(p) & ~0xFFu);
    HandOver(FollowUp::kWrite);
  }
}

ActionThread* StartWrite(TBuffer& image, int32_t bufStart, int32_t bufEnd, int32_t devStart, int32_t devEnd,
                         uint32_t pageSize, JobHost& host, bool startSuspended) {
  return StartJob<WriteThread>(image, bufStart, bufEnd, devStart, devEnd, pageSize, host, startSuspended);
}

ActionThread* StartRead(TBuffer& image, int32_t bufStart, int32_t bufEnd, int32_t devStart, int32_t devEnd,
                        uint32_t pageSize, JobHost& host, bool startSuspended) {
  return StartJob<ReadThread>(image, bufStart, bufEnd, devStart, devEnd, pageSize, host, startSuspended);
}

ActionThread* StartVerify(TBuffer& image, int32_t bufStart, int32_t bufEnd, int32_t devStart, int32_t devEnd,
                          uint32_t pageSize, JobHost& host, bool startSuspended) {
  return StartJob<VerifyThread>(image, bufStart, bufEnd, devStart, devEnd, pageSize, host, startSuspended);
}

ActionThread* StartJobFromFields(JobKind kind, TBuffer& image, JobHost& host) {
  host.SetStatusText("");
  const int32_t pageSize = host.SelectedPageSize();
  const int32_t devStart = ReadRangeField(host.RangeText(RangeField::kDevStart));
  const int32_t devEnd = ReadRangeField(host.RangeText(RangeField::kDevEnd));
  const int32_t bufStart = ReadRangeField(host.RangeText(RangeField::kBufStart));
  const int32_t bufEnd = ReadRangeField(host.RangeText(RangeField::kBufEnd));
  ActionThread* job = nullptr;
  switch (kind) {
    case JobKind::kWrite:
      job = StartWrite(image, bufStart, bufEnd, devStart, devEnd, static_cast<uint32_t>(pageSize), host, false);
      break;
    case JobKind::kRead:
      job = StartRead(image, bufStart, bufEnd, devStart, devEnd, static_cast<uint32_t>(pageSize), host, false);
      break;
    case JobKind::kVerify:
      job = StartVerify(image, bufStart, bufEnd, devStart, devEnd, static_cast<uint32_t>(pageSize), host, false);
      break;
  }
  host.SetJob(job);
  return job;
}

}  // namespace morvane
