#include "gui/light_pass_progress.hpp"

#include <QApplication>
#include <QProgressDialog>
#include <QScopeGuard>

#include "core/settings/texts.hpp"
#include "core/video/light_following.hpp"
#include "gui/captions.hpp"
#include "gui/program.hpp"

namespace tintora {
namespace {

// Long enough for a cached track or a short clip to pass unseen.
constexpr int kShowAfterMs = 500;

}  // namespace

std::optional<QString> measure_light(const VideoWorkspace& workspace, int reference,
                                     const std::filesystem::path& work_dir,
                                     std::string_view language, QWidget* owner) {
    using namespace light_pass_texts;
    QProgressDialog dialog(to_qstring(message_text(kMeasuring, language)),
                           to_qstring(message_text(kCancel, language)), 0, 1, owner);
    dialog.setObjectName(QStringLiteral("lightPassDialog"));
    dialog.setWindowTitle(QStringLiteral("Tintora"));
    // Every window waits: another action started from the events the pass
    // lets through would run inside it.
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(kShowAfterMs);
    // The pass's last frame must not reset the dialog and lose a Cancel.
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setValue(0);  // starts the clock of minimumDuration
    // A caller's wait cursor would hide that the dialog takes clicks.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    const LightPassOutcome outcome =
        follow_workspace_light(workspace, reference, work_dir, [&dialog](int done, int total) {
            dialog.setMaximum(total);
            dialog.setValue(done);
            // The pass runs on this thread: the dialog draws and hears its
            // Cancel only here.
            QApplication::processEvents();
            return !dialog.wasCanceled();
        });
    if (outcome.problem != LightPassProblem::Cancelled) return std::nullopt;
    return QString::fromStdString(light_pass_text(outcome, language));
}

std::optional<QString> measure_followed_light(Program& program, QWidget* owner) {
    const VideoWorkspace& workspace = program.video_workspace();
    const LightFollowing& following = workspace.light_following();
    if (!following.on || workspace.session().FrameCount <= 0) return std::nullopt;
    return measure_light(workspace, following.reference_frame, program.settings().work_dir,
                         program.settings().language, owner);
}

}  // namespace tintora
