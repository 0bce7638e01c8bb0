// Kvillo, the resident wallpaper service: renews the desktop wallpaper on
// the user's schedule until it is closed, or once at log-on with "/boot".

#include <cstdio>
#include <optional>
#include <string>

#include "ReadSettings.h"
#include "UpdateWallpaper.h"
#include "PublishWallpaper.h"
#include "frmKvillo.h"
#include "kvplatform/process/InstanceLock.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/base/Paths.h"
#include "kvplatform/process/Process.h"
#include "kvplatform/base/Random.h"
#include "kvplatform/base/Text.h"
#include "kvshared/CStatics.h"
#include "kvshared/Enums.h"

namespace kv::service {
namespace {

bool SaveStatus(std::string_view status) {
  if (auto written = Statics().SaveRegistrySetting(CStatics::REGAPPLICATION, CStatics::REGSECTION,
                                                   CStatics::STATUSCODEKEY, status);
      !written) {
    platform::LogErrorOnce("cannot store the service status \"" + std::string(status) + "\": " + written.error().message);
    return false;
  }
  return true;
}

// The command line as one text, as the program received it.
std::string CommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

constexpr std::string_view kUsage =
    "usage: Kvillo [/boot]\n"
    "Renews the desktop wallpaper on the schedule chosen in the settings window (KvSettings)\n"
    "and stays resident until it is stopped there, or logged off. With /boot and the\n"
    "frequency \"Time I boot\" it renders once and ends: the start at log-on.\n";

int Main(int argc, char** argv) {
  platform::SetLogProgramName("Kvillo");
  // Kept for the whole run: the trimmed views below point into it.
  const std::string commandLine = CommandLine(argc, argv);
  if (std::string_view line = platform::TrimSpaces(commandLine); line == "--help" || line == "-h") {
    std::fputs(kUsage.data(), stdout);
    return 0;
  }

  // A second instance ends here, before it has written anything.
  auto runtime = platform::RuntimeDirectory();
  if (!runtime) {
    platform::LogError(runtime.error().message);
    return 1;
  }
  auto lock = platform::InstanceLock::TryAcquire(*runtime / "KvilloService.lock");
  if (!lock) {
    platform::LogError(lock.error().message);
    return 1;
  }
  if (!*lock) return 0;

  // A requester that hangs up before its answer, or a closed stderr, must
  // cost a write, never the service.
  platform::IgnoreBrokenPipes();

  // The window and the close signals come first: reading the settings can
  // wait on a store that another program holds locked, and meanwhile the
  // settings window must see the service and be able to stop it.
  std::optional<SettingsSnapshot> snapshot;
  bool announced = false;
  auto update = [&] {
    if (!announced) announced = SaveStatus(CStatics::STATUSRUNNING);
    return UpdateWallpaper(*snapshot, RenderWithRenderer, GiveUp, announced ? StatusGate::Read : StatusGate::AssumeRunning);
  };
  frmKvillo form({.update = update, .showExisting = [&] { ShowExistingWallpaper(snapshot->WallpaperFile); }});
  if (auto loaded = form.Load(); !loaded) {
    platform::LogError(loaded.error().message);
    return 1;
  }
  if (auto kept = form.KeepInstance(**lock, *runtime); !kept) platform::LogError(kept.error().message);

  auto settings = ReadSettings();
  if (!settings) {
    platform::LogError(settings.error().message);
    return 1;
  }
  snapshot = std::move(*settings);
  // Until the service has stored its "Running" (another program may hold
  // the store locked), the stored status is not its own and does not stop
  // it; every cycle tries to store it again first.
  announced = SaveStatus(CStatics::STATUSRUNNING);
  platform::Randomize();

  // A close request or signal that came during start-up wins over the
  // first update; it has written "Stopped" last.
  if (auto dispatched = form.DispatchPending(); !dispatched) {
    platform::LogError(dispatched.error().message);
    return 1;
  }
  if (form.Ended()) return 0;

  // The renders run at idle priority. The short start-up before them keeps
  // the priority the service was started with: at idle priority on a busy
  // machine it could take minutes to read the settings or to answer a
  // close request that came meanwhile.
  platform::EnterIdlePriority();

  // The log-on run: one update, then end.
  if (platform::TrimSpaces(commandLine) == CStatics::REGAUTOSTARTBOOTSWITCH && snapshot->Frequency == wpBoot) {
    form.Unload();
    if (update() != CycleOutcome::EndProgram) SaveStatus(CStatics::STATUSSTOPPED);
    return 0;
  }

  form.SetUpSchedule(snapshot->Frequency);
  if (form.Ended()) return 0;
  form.StartTimer(TickInterval());
  if (auto ran = form.Run(); !ran) {
    platform::LogError(ran.error().message);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace kv::service

int main(int argc, char** argv) { return kv::service::Main(argc, argv); }
