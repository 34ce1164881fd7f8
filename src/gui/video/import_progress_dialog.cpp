#include "gui/video/import_progress_dialog.hpp"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <thread>

#include "core/video/video_texts.hpp"
#include "gui/captions.hpp"

namespace tintora {
namespace {

QString stage_text(const ImportProgress& progress, std::string_view language) {
    using namespace video_texts;
    switch (progress.stage.load()) {
        case ImportStage::Describing:
            return to_qstring(message_text(kDescribing, language));
        case ImportStage::Extracting: {
            const int expected = progress.frames_expected.load();
            const std::string so_far = std::to_string(progress.frames_extracted.load());
            if (expected > 0) {
                return to_qstring(fill_in(message_text(kExtracting, language),
                                          {so_far, std::to_string(expected)}));
            }
            return to_qstring(fill_in(message_text(kExtractingUnknown, language), {so_far}));
        }
        case ImportStage::ExtractingSound:
        case ImportStage::Finished:
            return to_qstring(message_text(kExtractingSound, language));
    }
    return {};
}

}  // namespace

ImportOutcome import_with_progress(QWidget* parent, const std::filesystem::path& ffmpeg,
                                   const std::filesystem::path& clip,
                                   const std::filesystem::path& work_dir,
                                   const std::string& language, std::shared_ptr<WorkDirLock> held) {
    ImportProgress progress;
    ImportOutcome outcome;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        outcome = import_video(ffmpeg, clip, work_dir, progress, language, std::move(held));
        done = true;
    });

    QProgressDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("importProgressDialog"));
    dialog.setWindowTitle(to_qstring(message_text(video_texts::kImportTitle, language)));
    dialog.setCancelButtonText(to_qstring(message_text(video_texts::kCancel, language)));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumWidth(360);
    dialog.setRange(0, 0);
    dialog.setLabelText(stage_text(progress, language));
    QObject::connect(&dialog, &QProgressDialog::canceled,
                     [&] { progress.cancel_requested = true; });

    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done) {
            loop.quit();
            return;
        }
        const int expected = progress.frames_expected.load();
        const bool counting = progress.stage.load() == ImportStage::Extracting && expected > 0;
        dialog.setMaximum(counting ? expected : 0);
        if (counting) dialog.setValue(std::min(progress.frames_extracted.load(), expected));
        dialog.setLabelText(stage_text(progress, language));
    });
    poll.start(50);
    dialog.show();
    loop.exec();
    worker.join();
    return outcome;
}

}  // namespace tintora
