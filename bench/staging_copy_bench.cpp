// The staging copy of a 64 MiB backup through CopyFileWithProgress, inside the dialog's modal
// loop as in a run (progress bar and message pump after every chunk), against a plain
// read/write loop over the same file measured in the same run.  Prints the ratios.
//
//   build/release/bench/bench_staging_copy [megabytes] [repetitions]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "DealWithBackup/DealWithBackup.h"
#include "platform/errors.h"
#include "platform/portable/clocks.h"
#include "platform/portable/headless_ui.h"
#include "platform/portable/in_process_libraries.h"
#include "platform/portable/posix_files.h"
#include "platform/portable/recording_host_log.h"
#include "platform/portable/simulated_services.h"

namespace finprep {

struct DealWithBackupProbe {
  static bool Copy(TForm_DealWithBackup& f, const std::string& from, const std::string& to) {
    return f.CopyFileWithProgress(from, to);
  }
  static void End(TForm_DealWithBackup& f, int modal_result) {
    f.window_->SetModalResult(modal_result);
  }
};

namespace {

class QuietDesktop : public portable::Desktop {
 public:
  void UseChooser(portable::ChooserInput& chooser) override { chooser.PressEnter(); }
};

class NoServer : public DatabaseDriver {
 public:
  std::unique_ptr<Session> Connect(const std::string&, int) override {
    throw ProviderError("no server in this benchmark");
  }
};

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A plain copy loop: open, read a chunk, write it, until the end.
double PlainCopy(const std::string& from, const std::string& to, std::size_t chunk) {
  const auto start = Clock::now();
  const int in = ::open(from.c_str(), O_RDONLY);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) throw std::runtime_error("cannot open the benchmark files");
  std::vector<char> buffer(chunk);
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n <= 0) break;
    if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) {
      throw std::runtime_error("short write");
    }
  }
  ::close(in);
  ::close(out);
  return Seconds(Clock::now() - start);
}

// The staging copy inside the dialog's modal loop, as the step driver runs it.
double StagingCopy(const std::string& from, const std::string& to) {
  QuietDesktop desktop;
  portable::ManualClock clock;  // the timer's first interval passes without waiting
  portable::HeadlessApplication application(desktop, clock);
  portable::PosixFileSystem files;
  NoServer database;
  portable::SimulatedServiceManager services;
  portable::InProcessLibraryLoader libraries;
  portable::RecordingHostLog host_log;
  Platform platform{application, files, database, services, libraries, clock, host_log};

  TForm_DealWithBackup dialog(platform, Edition::HostInstance);
  double seconds = 0;
  dialog.StartTimer().OnTimer = [&] {
    dialog.StartTimer().SetEnabled(false);
    const auto start = Clock::now();
    const bool copied = DealWithBackupProbe::Copy(dialog, from, to);
    seconds = Seconds(Clock::now() - start);
    DealWithBackupProbe::End(dialog, copied ? kModalOK : kModalCancel);
  };
  if (dialog.ShowModal() != kModalOK) throw std::runtime_error("the staging copy failed");
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace
}  // namespace finprep

int main(int argc, char** argv) {
  using namespace finprep;
  const long megabytes = argc > 1 ? std::atol(argv[1]) : 64;
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
  if (megabytes <= 0 || repetitions <= 0) {
    std::fprintf(stderr, "usage: %s [megabytes] [repetitions]\n", argv[0]);
    return 2;
  }

  char folder_template[] = "/tmp/finprep-bench-XXXXXX";
  const char* folder = mkdtemp(folder_template);
  if (!folder) return 1;
  const std::string source = std::string(folder) + "/source.bak";
  const std::string plain_target = std::string(folder) + "/plain.temp";
  const std::string staged_target = std::string(folder) + "/xy.temp";
  {
    std::FILE* out = std::fopen(source.c_str(), "wb");
    if (!out) return 1;
    std::vector<unsigned char> block(1 << 20);
    for (long mb = 0; mb < megabytes; ++mb) {
      for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>((i * 131 + static_cast<std::size_t>(mb)) & 0xFF);
      std::fwrite(block.data(), 1, block.size(), out);
    }
    std::fclose(out);
  }

  // Warm the page cache, then alternate the contenders so that neither gets the better turn.
  PlainCopy(source, plain_target, 1 << 16);
  std::vector<double> plain_same_chunk, plain_large_chunk, staged;
  for (int i = 0; i < repetitions; ++i) {
    plain_same_chunk.push_back(PlainCopy(source, plain_target, 1025));
    staged.push_back(StagingCopy(source, staged_target));
    plain_large_chunk.push_back(PlainCopy(source, plain_target, 1 << 16));
  }
  const bool equal =
      std::filesystem::file_size(staged_target) == std::filesystem::file_size(source);
  std::filesystem::remove_all(folder);
  if (!equal) {
    std::fprintf(stderr, "the staged copy differs in size from its source\n");
    return 1;
  }

  const double base = Median(plain_same_chunk);
  const double large = Median(plain_large_chunk);
  const double ours = Median(staged);
  std::printf("staging copy of %ld MiB, median of %d runs\n", megabytes, repetitions);
  std::printf("  plain loop, 1025-byte chunks   %8.3f s\n", base);
  std::printf("  plain loop, 64 KiB chunks      %8.3f s\n", large);
  std::printf("  CopyFileWithProgress           %8.3f s\n", ours);
  std::printf("ratio CopyFileWithProgress / plain 1025-byte loop: %.2f\n", ours / base);
  std::printf("ratio CopyFileWithProgress / plain 64 KiB loop:    %.2f\n", ours / large);
  return 0;
}
