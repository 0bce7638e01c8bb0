// The settings window's service frame: the service's state, Start, Stop,
// Pause and Resume, the restart after a save, and the start at log-on.

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTimer>
#include <QThread>
#include <future>

#include "BusyPointer.h"
#include "Controls.h"
#include "Funcs.h"
#include "frmSettings.h"
#include "kvplatform/process/LocalTime.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/process/ServiceWindow.h"
#include "kvshared/CStatics.h"
#include "kvshared/ServiceControl.h"

namespace kv::settings {
namespace {

// How long the service may take to answer a close request and to end.
constexpr std::uint32_t kServiceEndTimeoutMs = static_cast<std::uint32_t>(kServiceEndTimeout.count());
// A restart leaves at least this much time between the old service and the new.
constexpr std::uint32_t kRestartPauseMs = 1000;
// How often the frame looks at the service's state.
constexpr int kServiceWatchMs = 500;

bool ServiceWindowExists() { return platform::FindServiceWindow(platform::kServiceWindowClass, CStatics::SERVICENAME); }

void ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); }

}  // namespace

void frmSettings::CreateServiceFrame() {
  fraStartStop_ = new QGroupBox(QStringLiteral("Kvillo status"), this);
  fraStartStop_->setObjectName(QStringLiteral("fraStartStop"));
  Place(fraStartStop_, 150, 750, 4935, 1215);

  auto button = [&](QPushButton*& target, const char* name, const QString& caption, int left) {
    target = new QPushButton(caption, fraStartStop_);
    target->setObjectName(QString::fromLatin1(name));
    Place(target, left, 300, 1065, 345);
    target->setEnabled(false);  // until RefreshServiceStatus knows the state
  };
  button(cmdStart_, "cmdStart", QStringLiteral("Start"), 180);
  button(cmdStop_, "cmdStop", QStringLiteral("Stop"), 1350);
  button(cmdPause_, "cmdPause", QStringLiteral("Pause"), 2520);
  button(cmdResume_, "cmdResume", QStringLiteral("Resume"), 3690);

  chkAutoStart_ = new QCheckBox(QStringLiteral("Start Kvillo on Windows startup"), fraStartStop_);
  chkAutoStart_->setObjectName(QStringLiteral("chkAutoStart"));
  Place(chkAutoStart_, 180, 780, 4575, 300);

  tmrServiceWatch_ = new QTimer(this);
  tmrServiceWatch_->setObjectName(QStringLiteral("tmrServiceWatch"));
  tmrServiceWatch_->setInterval(kServiceWatchMs);
}

void frmSettings::RefreshServiceStatus() {
  // The look never waits: a service that takes no connection now (busy, or
  // stopped) is shown as such at once, and the window stays usable.
  platform::ServiceWindowState window =
      platform::ProbeServiceWindow(platform::kServiceWindowClass, CStatics::SERVICENAME);
  QString caption;
  if (window == platform::ServiceWindowState::Absent) {
    if (serviceProblemEnds_ == ProblemEnds::WhenGone) SetServiceProblem({}, {});
    caption = QStringLiteral("Kvillo status: Stopped");
    cmdPause_->setEnabled(false);
    cmdResume_->setEnabled(false);
    cmdStop_->setEnabled(false);
    cmdStart_->setEnabled(true);
  } else {
    if (window == platform::ServiceWindowState::Present && serviceProblemEnds_ == ProblemEnds::WhenRunning) {
      SetServiceProblem({}, {});
    }
    cmdStart_->setEnabled(false);
    cmdStop_->setEnabled(true);
    auto status = Statics().GetRegistrySetting(CStatics::REGAPPLICATION, CStatics::REGSECTION, CStatics::STATUSCODEKEY, "");
    std::string text = status.value_or("");
    if (text == CStatics::STATUSRUNNING) {
      caption = QStringLiteral("Kvillo status: Started");
      cmdPause_->setEnabled(true);
      cmdResume_->setEnabled(false);
    } else if (text == CStatics::STATUSPAUSED) {
      caption = QStringLiteral("Kvillo status: Paused");
      cmdResume_->setEnabled(true);
      cmdPause_->setEnabled(false);
    } else {
      // The window says the service runs; the status says neither started
      // nor paused. Caption, Pause and Resume stay as they were.
      caption = serviceCaption_;
    }
  }
  serviceCaption_ = caption;
  // A failure stays in view until it is over (a failed start until the
  // service is seen running, a failed stop until it is seen gone) or the
  // user tries again: briefly in the caption, with the reason in full in
  // the frame's tooltip. Whether a service that takes no connection would
  // answer is unknown.
  QString note = serviceProblem_;
  if (window == platform::ServiceWindowState::NotResponding) {
    caption = QStringLiteral("Kvillo status: Unknown");
    if (note.isEmpty()) note = tr("not responding");
  }
  fraStartStop_->setTitle(note.isEmpty() ? caption : caption + QStringLiteral(" (") + note + u')');
  fraStartStop_->setToolTip(serviceProblemDetail_);
}

void frmSettings::SetServiceProblem(const QString& problem, const std::string& detail, ProblemEnds ends) {
  serviceProblem_ = problem;
  serviceProblemDetail_ = QString::fromStdString(detail);
  serviceProblemEnds_ = problem.isEmpty() ? ProblemEnds::Never : ends;
  if (!detail.empty()) platform::LogError(detail);
}

Status frmSettings::StartService() {
  return kv::StartService();
}

Status frmSettings::CloseService() {
  // The service answers a close request at once, unless it is busy (a
  // render, or its failure message waiting for the user); the window stays
  // responsive meanwhile.
  auto answer = std::async(std::launch::async, [] { return kv::CloseService(); });
  while (answer.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) ProcessPendingEvents();
  Status closed = answer.get();
  if (!closed && closed.error().code == ErrorCode::NotFound) return Ok();  // it had already gone
  return closed;
}

void frmSettings::cmdStart_Click() {
  if (serviceBusy_) return;
  {
    BusyPointer busy;
    SetServiceProblem({}, {});
    if (auto started = StartService(); !started) {
      SetServiceProblem(tr("Kvillo could not be started"), started.error().message, ProblemEnds::WhenRunning);
    }
    ProcessPendingEvents();
    RefreshServiceStatus();
  }
}

void frmSettings::cmdStop_Click() {
  if (serviceBusy_) return;
  serviceBusy_ = true;
  SetServiceProblem({}, {});
  if (ServiceWindowExists()) {
    if (auto closed = CloseService(); !closed) {
      SetServiceProblem(tr("Kvillo did not stop"), closed.error().message, ProblemEnds::WhenGone);
    }
  }
  {
    BusyPointer busy;
    ProcessPendingEvents();
    RefreshServiceStatus();
  }
  serviceBusy_ = false;
}

void frmSettings::SaveServiceStatus(std::string_view status) {
  SetServiceProblem({}, {});
  if (auto written = kv::SaveServiceStatus(status); !written) {
    SetServiceProblem(tr("the status was not stored"), written.error().message, ProblemEnds::WhenGone);
  }
  BusyPointer busy;
  ProcessPendingEvents();
  RefreshServiceStatus();
}

void frmSettings::cmdPause_Click() { SaveServiceStatus(CStatics::STATUSPAUSED); }

void frmSettings::cmdResume_Click() { SaveServiceStatus(CStatics::STATUSRUNNING); }

Status frmSettings::RestartService() {
  if (!ServiceWindowExists()) return Ok();  // a stopped service stays stopped
  serviceBusy_ = true;
  Status result = Ok();
  if (auto closed = CloseService(); !closed) {
    result = std::unexpected(closed.error());
  } else {
    // At least a second, and until the old service has gone. The clock
    // arithmetic wraps with the 32-bit millisecond counter.
    std::uint32_t started = platform::TickCountMs();
    while (true) {
      std::uint32_t elapsed = platform::TickCountMs() - started;
      bool gone = !ServiceWindowExists();
      if (elapsed >= kRestartPauseMs && gone) break;
      if (elapsed >= kServiceEndTimeoutMs) {
        result = Fail("Kvillo did not end within " + std::to_string(kServiceEndTimeoutMs / 1000) +
                      " seconds, so it was not started again");
        break;
      }
      ProcessPendingEvents();
      QThread::msleep(10);
    }
    if (result) result = StartService();
  }
  if (!result) SetServiceProblem(tr("Kvillo was not restarted"), result.error().message, ProblemEnds::WhenRunning);
  serviceBusy_ = false;
  RefreshServiceStatus();
  return result;
}

bool frmSettings::IsAutoStartEnabled() { return settings::IsAutoStartEnabled(); }

Status frmSettings::ApplyAutoStart() { return SetAutoStart(chkAutoStart_->checkState() != Qt::Unchecked); }

}  // namespace kv::settings
