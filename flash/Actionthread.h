#pragma once
// The jobs: Write Device, Read Device and Verify Device, each on a worker
// thread of its own. A job moves bytes between the image and the flash in
// two stages: the IAP firmware copies flash to or from a work area in chip
// memory, and the job streams the bytes between that work area and the
// image in one long burst, with progress and a cancel checkpoint about 96
// times per transfer. A write job can hand over to a verify job (Verify
// After Write), and a verify job that finds a difference to a new write job
// from the differing 256-byte page (Write Till Success).
#include <cstdint>
#include <stdexcept>
#include <string>

#include "flash/worker.h"
#include "image/buffer.h"

namespace morvane {

class ActionThread;

enum class RangeField { kDevStart, kDevEnd, kBufStart, kBufEnd };

// What a job reads and changes of the main window: each front end implements
// it. Every call but Synchronize runs on the GUI thread.
class JobHost : public GuiDispatcher {
 public:
  // The nine command actions (commands off while a job runs).
  virtual void EnableCommands(bool on) = 0;
  virtual void SetLockBootBlockEnabled(bool on) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  virtual void SetProgress(int position) = 0;  // the bar's range is 0..100; more shows full
  virtual void SetStatusText(const std::string& text) = 0;
  // A job's status with its detail text while it runs (the status panel
  // shows the two run together; a terminal may show them on two lines).
  virtual void ShowStatus(const std::string& status, const std::string& detail) { SetStatusText(status + detail); }
  virtual void SetCancelEnabled(bool on) = 0;
  // The two options, as ticked now.
  virtual bool VerifyAfterWrite() = 0;
  virtual bool WriteTillSuccess() = 0;
  // The four range fields: uppercase hexadecimal without prefix.
  virtual std::string RangeText(RangeField field) = 0;
  virtual void SetRangeText(RangeField field, const std::string& text) = 0;
  // The page size kept with the selected device.
  virtual int32_t SelectedPageSize() = 0;
  // The device flags of device set-up, and the boot-block state.
  virtual bool UnprotectFlag() = 0;
  virtual bool WholeChipFlag() = 0;
  virtual bool BootLocked() = 0;
  // The image the commands work on (null when there is none).
  virtual TBuffer* Buffer() = 0;
  // Replaces the buffer window by one captioned "buffer" that shows the
  // image's hex dump.
  virtual void ShowBuffer(TBuffer& image) = 0;
  // The job most recently started (what Cancel asks to terminate).
  virtual void SetJob(ActionThread* job) = 0;
  // A job has ended with this status and detail text (the detail names what
  // went wrong; it may be empty). Called after the job's last status change.
  virtual void JobEnded(const std::string& status, const std::string& detail) = 0;
};

// 1 from a write job's hand-over to its verify job until the chain ends.
extern int ChainPending;

// A range field's text as a command reads it: "0x" put in front and the
// whole converted to a signed 32-bit integer. Throws RangeFieldError.
class RangeFieldError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
int32_t ReadRangeField(const std::string& text);

class ActionThread : public WorkerThread {
 public:
  // Constructed on the GUI thread by the start functions; disables the
  // commands at once. The job's thread starts with Start().
  ActionThread(TBuffer& image, int32_t bufStart, int32_t bufEnd, int32_t devStart, int32_t devEnd, uint32_t pageSize,
               JobHost& host);
  ~ActionThread() override;

  JobHost& MainForm;
  std::string Detail;
  std::string Status;
  int32_t Progress = 0;
  int32_t BufStart = 0;
  int32_t BufEnd = 0;
  int32_t DevStart = 0;
  int32_t DevEnd = 0;
  uint32_t PageSize = 0;
  TBuffer& Buffer;

 protected:
  // True, with Status "Canceled", when the job has been asked to terminate.
  bool CheckCanceled();
  // The synchronised display steps.
  void BeginJob();
  void ShowProgress();
  void ShowBuffer();
  // Runs as the on-terminate step, on the GUI thread.
  void EndJob();
  void OnTerminate() override { EndJob(); }

  // Progress stepping inside a transfer of n bytes: a checkpoint and a
  // progress step at every step-th byte. False when the job is to stop.
  static int32_t StepFor(int32_t n);
  bool StepAt(int32_t i, int32_t step);

  // Has the chip read count flash bytes from first into chip memory, up to
  // three attempts; false, with the read error as Detail and "FAILED!", when
  // every attempt failed.
  bool ReadFlash(int32_t first, int32_t count);
  // Points the read pointer at the bytes read and opens the burst that
  // streams them out (with or without the memory port's preparation).
  void OpenReadStream(bool prepare);

  // The follow-up job the ending job hands over to, started by EndJob.
  enum class FollowUp { kNone, kVerify, kWrite };
  void HandOver(FollowUp next) { followUp_ = next; }
  // Device flags as they were when the job began.
  bool unprotect_ = false, wholeChip_ = false, bootLocked_ = false;
  // Write Till Success: the start fields for the new write job.
  std::string nextDevStart_, nextBufStart_;

 private:
  FollowUp followUp_ = FollowUp::kNone;
};

class WriteThread final : public ActionThread {
 public:
  using ActionThread::ActionThread;

 protected:
  void Execute() override;
};

class ReadThread final : public ActionThread {
 public:
  using ActionThread::ActionThread;

 protected:
  void Execute() override;
};

class VerifyThread final : public ActionThread {
 public:
  using ActionThread::ActionThread;

 protected:
  void Execute() override;
};

// Start a job on the GUI thread; it disables the commands at once. With
// startSuspended the caller starts it later (job->Start()).
ActionThread* StartWrite(TBuffer& image, int32_t bufStart, int32_t bufEnd, int32_t devStart, int32_t devEnd,
                         uint32_t pageSize, JobHost& host, bool startSuspended);
ActionThread* StartRead(TBuffer& image, int32_t bufStart, int32_t bufEnd, int32_t devStart, int32_t devEnd,
                        uint32_t pageSize, JobHost& host, bool startSuspended);
ActionThread* StartVerify(TBuffer& image, int32_t bufStart, int32_t bufEnd, int32_t devStart, int32_t devEnd,
                          uint32_t pageSize, JobHost& host, bool startSuspended);

// Starts a job the way the main window's command does: status panel cleared,
// the selected page size, the four range fields read as they are now. Throws
// RangeFieldError for a field that does not convert; no job starts then.
enum class JobKind { kWrite, kRead, kVerify };
ActionThread* StartJobFromFields(JobKind kind, TBuffer& image, JobHost& host);

// Status and detail texts of the jobs.
inline constexpr char kDownloading[] = "Downloading...";
inline constexpr char kWriting[] = "Writing...";
inline constexpr char kDone[] = "Done";
inline constexpr char kFail[] = "FAIL!";
inline constexpr char kReading[] = "Reading...";
inline constexpr char kVerifying[] = "Verifying...";
inline constexpr char kSuccess[] = "SUCCESS!";
inline constexpr char kFailed[] = "FAILED!";
inline constexpr char kCanceled[] = "Canceled";
inline constexpr char kUnprotectError[] = "Set flash rom unprotected error!";
inline constexpr char kEraseError[] = "Erase flash rom error!";

// The chip-memory address where the write job streams image bytes: image
// address a lands at a + 0x1100.
inline constexpr uint32_t kWriteStreamBase = 0x1100;
inline constexpr uint32_t kWriteWorkBase = 0x1000;
inline constexpr int kCommandAttempts = 3;
inline constexpr int kProgressSteps = 96;

}  // namespace morvane
