// kvstress: drives the store the way the two programs do, many times over, so a test can run both at once.
//   kvstress status N   writes the service status N times (as the service does)
//   kvstress save N     saves the whole settings N times (as the settings program does), alternating two font lists
//   kvstress hold S     holds the store's write lock for S seconds; prints "holding" once it has it
//   kvstress check F    loads the settings, checks the font list is one of the two whole lists, until file F exists
// Prints one line of figures; exits 1 when any write failed or a check saw a mixed list.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kvplatform/store/Store.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"
#include "kvshared/CStatics.h"

namespace {

using Names = std::vector<std::string>;
const Names kListA{"A1", "A2", "A3", "A4", "A5", "A6"}, kListB{"B1", "B2"};

int Status(int count) {
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    auto status = i % 2 == 0 ? kv::CStatics::STATUSRUNNING : kv::CStatics::STATUSPAUSED;
    failed += !kv::Statics().SaveRegistrySetting(kv::CStatics::REGAPPLICATION, kv::CStatics::REGSECTION,
                                                 kv::CStatics::STATUSCODEKEY, status);
  }
  std::printf("status writes %d failed %d\n", count, failed);
  return failed == 0 ? 0 : 1;
}

int Save(int count) {
  kv::CSettings settings;
  auto catalog = kv::CResources::Create();
  if (!catalog || !settings.LoadSettings(&*catalog)) return std::fprintf(stderr, "kvstress: cannot load the settings\n"), 1;
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    failed += !settings.SetSelectedFonts(i % 2 == 0 ? kListA : kListB);
    settings.FontSize(std::to_string(8 + i % 60));
    failed += !settings.SaveSettings();
  }
  std::printf("saves %d failed %d\n", count, failed);
  return failed == 0 ? 0 : 1;
}

int Hold(int seconds) {
  auto store = kv::platform::Store::ForCurrentUser();
  if (!store) return 1;
  auto transaction = (*store)->Begin();
  if (!transaction) return 1;
  std::printf("holding\n"), std::fflush(stdout);
  sleep(static_cast<unsigned>(seconds));
  return 0;
}

int Check(const std::string& doneFile) {
  int loads = 0, mixed = 0;
  for (bool last = false; !last; ++loads) {
    last = access(doneFile.c_str(), F_OK) == 0;
    kv::CSettings settings;
    auto catalog = kv::CResources::Create();
    Names fonts;
    mixed += !catalog || !settings.LoadSettings(&*catalog) || !settings.GetSelectedFonts(fonts) ||
             (fonts != kListA && fonts != kListB && fonts != Names{"Arial"});
  }
  std::printf("loads %d mixed %d\n", loads, mixed);
  return mixed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc == 3 ? argv[1] : "";
  if (mode == "status") return Status(std::atoi(argv[2]));
  if (mode == "save") return Save(std::atoi(argv[2]));
  if (mode == "check") return Check(argv[2]);
  if (mode == "hold") return Hold(std::atoi(argv[2]));
  std::fprintf(stderr, "usage: kvstress status N | save N | hold SECONDS | check DONEFILE\n");
  return 2;
}
