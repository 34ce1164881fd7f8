#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "core/video/video_import.hpp"

class QWidget;

namespace tintora {

// Runs an import on a worker thread while a modal progress dialog shows the
// frames extracted so far (against the count the clip's description
// promises, or an indeterminate bar) and offers "Cancel". The windows stay
// painted throughout. `held`: the working folder's lock the caller holds.
ImportOutcome import_with_progress(QWidget* parent, const std::filesystem::path& ffmpeg,
                                   const std::filesystem::path& clip,
                                   const std::filesystem::path& work_dir,
                                   const std::string& language,
                                   std::shared_ptr<WorkDirLock> held = nullptr);

}  // namespace tintora
