#pragma once

#include "core/common/text_pair.hpp"

namespace tintora {

// Texts of the workspace's helps: undo and redo, the question before work
// is lost, playing in the panorama, the first steps and the guide.
namespace workspace_texts {
inline constexpr TextPair kUndo{"Undo", "Отменить"};
inline constexpr TextPair kRedo{"Redo", "Повторить"};
inline constexpr TextPair kPlayInPanorama{"Play in panorama", "Воспроизвести в панораме"};
inline constexpr TextPair kGuide{"Guide", "Руководство"};

inline constexpr TextPair kSaveChanges{"Save changes to the project?",
                                       "Сохранить изменения в проекте?"};
inline constexpr TextPair kSave{"Save", "Сохранить"};
inline constexpr TextPair kDontSave{"Don't save", "Не сохранять"};
inline constexpr TextPair kCancel{"Cancel", "Отмена"};

// What the empty picture says before a background is opened.
inline constexpr TextPair kFirstStep{"1. Open a background image: File > Open image",
                                     "1. Откройте фоновое изображение: Файл > Открыть фон"};
inline constexpr TextPair kSecondStep{"2. Then open a video clip: File > Open video",
                                      "2. Затем откройте видео: Файл > Открыть видео"};

inline constexpr TextPair kGuideMissing{"The guide was not found. It was looked for in:",
                                        "Руководство не найдено. Оно искалось в:"};
inline constexpr TextPair kGuideNotOpened{"No web browser could open the guide:",
                                          "Ни один браузер не смог открыть руководство:"};
// Space with nothing to play.
inline constexpr TextPair kPlayNeedsBackground{
    "Open a background image and a video first to play the video in the panorama.",
    "Сначала откройте фон и видео, чтобы воспроизвести видео в панораме."};
inline constexpr TextPair kPlayNeedsVideo{"Open a video first to play it in the panorama.",
                                          "Сначала откройте видео, чтобы воспроизвести его в "
                                          "панораме."};
}  // namespace workspace_texts

// What each undo step is called (shown as the Undo and Redo items' hints).
namespace edit_texts {
inline constexpr TextPair kSampledPair{"Sampled pair", "Пара с изображения"};
inline constexpr TextPair kCurveEdit{"Curve edit", "Правка кривой"};
inline constexpr TextPair kClear{"Clear", "Очистить"};
inline constexpr TextPair kClearAll{"Clear all", "Очистить все"};
inline constexpr TextPair kPaste{"Paste", "Вставить"};
inline constexpr TextPair kSetForAll{"Set for all", "Для всех"};
inline constexpr TextPair kMovedPoint{"Moved area point", "Перемещение точки"};
inline constexpr TextPair kMovedMesh{"Moved mesh", "Перемещение сетки"};
inline constexpr TextPair kMatchColours{"Match colours", "Подбор цветов"};
inline constexpr TextPair kCorrectionMode{"Correction mode", "Режим коррекции"};
inline constexpr TextPair kTypedAreaPoints{"Typed area points", "Ввод точек области"};
}  // namespace edit_texts

}  // namespace tintora
