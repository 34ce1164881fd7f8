#pragma once

#include <string>
#include <string_view>

#include "core/common/text_pair.hpp"

namespace tintora {

// The main window's translated controls.
namespace main_texts {
inline constexpr TextPair kFileMenu{"File", "Файл"};
inline constexpr TextPair kNewProject{"New project", "Новый поект"};
inline constexpr TextPair kOpenProject{"Open project", "Открыть поект"};
inline constexpr TextPair kSaveProject{"Save project", "Сохранить поект"};
inline constexpr TextPair kOpenImage{"Open image", "Открыть фон"};
inline constexpr TextPair kOpenVideo{"Open video", "Открыть видео"};
inline constexpr TextPair kExit{"Exit", "Выход"};
inline constexpr TextPair kEditMenu{"Edit", "Редактирование"};
inline constexpr TextPair kVideo{"Video", "Видео"};
inline constexpr TextPair kColorPalette{"Color palette", "Коррекция яркости"};
inline constexpr TextPair kOptions{"Options", "Настройки"};
inline constexpr TextPair kLanguageMenu{"Language", "Язык"};
inline constexpr TextPair kServiceMenu{"Service", "Сервис"};
inline constexpr TextPair kKrpanoCounter{"Krpano overlay hotspot counter",
                                         "Вычисление параметров оверлея krpano"};
inline constexpr TextPair kHelpMenu{"Help", "Помощь"};
inline constexpr TextPair kContext{"Context", "Справка"};
inline constexpr TextPair kAbout{"About", "О программе"};
inline constexpr TextPair kBackgroundGroup{"Background", "Фон"};
inline constexpr TextPair kVideoFrameGroup{"Video frame", "Видео кадр"};
inline constexpr TextPair kRotateLabel{"Rotate", "Вращение"};
inline constexpr TextPair kScaleLabel{"Scale", "Масштаб"};
inline constexpr TextPair kDensityLabel{"Density", "Плотность"};
inline constexpr TextPair kHideFrame{"hide [F4]", "скрыть [F4]"};
inline constexpr TextPair kRefresh{"Refresh [F5]", "Обновить [F5]"};
inline constexpr TextPair kDefaultLayout{"Default [F6]", "По умолчанию [F6]"};

// Colour matching.
inline constexpr TextPair kMatchColours{"Match colours", "Подобрать цвета"};
}  // namespace main_texts

// The colour palette window's translated controls.
namespace palette_texts {
inline constexpr TextPair kCaption{"Color palette", "Коррекция яркости"};
inline constexpr TextPair kClearAll{"Clear all", "Очистить все"};
inline constexpr TextPair kClear{"Clear", "Очистить"};
inline constexpr TextPair kCopy{"Copy", "Копировать"};
inline constexpr TextPair kPaste{"Paste", "Вставить"};
inline constexpr TextPair kSetForAll{"Set for all", "Для всех"};
inline constexpr TextPair kIntensityHeader{"Intensity", "Яркость"};

// The correction mode and colour matching.
inline constexpr TextPair kModeLabel{"Mode", "Режим"};
inline constexpr TextPair kBrightnessMode{"Brightness", "Яркость"};
inline constexpr TextPair kColourMode{"Colour", "Цвет"};
inline constexpr TextPair kMatchColours{"Match colours", "Подобрать цвета"};
inline constexpr TextPair kFollowLight{"Follow the light", "Следить за светом"};
inline constexpr TextPair kFramesLabel{"Frames", "Кадров"};
inline constexpr TextPair kCurrentFrame{"shown", "текущий"};
inline constexpr TextPair kRedHeader{"Red", "Красный"};
inline constexpr TextPair kGreenHeader{"Green", "Зелёный"};
inline constexpr TextPair kBlueHeader{"Blue", "Синий"};
}  // namespace palette_texts

// Messages.
namespace message_texts {
inline constexpr TextPair kCantWriteIni{"Can't write ini-file!", "Невозножно сохранить ini-файл!"};
inline constexpr TextPair kProjectSaved{"Project file saved!", "Проект сохранён!"};
inline constexpr TextPair kCantSaveProject{"Can't save project file!",
                                           "Невозножно сохранить проект!"};
inline constexpr TextPair kCantOpenProject{"Can't open project file!",
                                           "Невозножно открыть проект!"};
inline constexpr TextPair kCantOpenImage{"Can't open the image!",
                                         "Невозможно открыть изображение!"};
inline constexpr TextPair kError{"Error", "Ошибка"};
inline constexpr TextPair kPictureTooLarge{"Not enough memory for the picture at this scale!",
                                           "Недостаточно памяти для изображения в этом масштабе!"};
// The options dialog's "OK".
inline constexpr TextPair kFfmpegNotFound{"ffmpeg.exe not found!", "ffmpeg.exe не найден!"};
inline constexpr TextPair kFfplayNotFound{"ffplay.exe not found!", "ffplay.exe не найден!"};
inline constexpr TextPair kDirectoryNotExist{"Directory not exist!", "Каталог не существует!"};

// Colour matching.
inline constexpr TextPair kMatchNeedsBackground{
    "Open a background image first: the colours are matched to it.",
    "Сначала откройте фон: цвета подбираются по нему."};
inline constexpr TextPair kMatchNeedsVideo{
    "Open a video first: its frames are matched to the background.",
    "Сначала откройте видео: его кадры подбираются к фону."};
inline constexpr TextPair kMatchCantReadFrame{"Can't read a frame of the video!",
                                              "Невозможно прочитать кадр видео!"};
inline constexpr TextPair kMatchFrameOffBackground{
    "The video frame lies entirely off the background: place the mesh on it first.",
    "Видео кадр целиком вне фона: сначала поместите сетку на фон."};
inline constexpr TextPair kMatchTooFewPixels{
    "Too few usable pixels under the mesh (clipped or on sharp edges): nothing was changed.",
    "Слишком мало пригодных точек под сеткой (пересвеченных или на резких границах): ничего не "
    "изменено."};
inline constexpr TextPair kMatchNotEnoughMemory{
    "Not enough memory to match the colours over so large a part of the background!",
    "Недостаточно памяти, чтобы подобрать цвета по такой большой части фона!"};
inline constexpr TextPair kMatchFramesTooSmall{
    "The video's frames are too small to match: they need at least 2 by 2 pixels.",
    "Кадры видео слишком малы для подбора цветов: нужно не меньше 2 на 2 точек."};
inline constexpr TextPair kMatchCancelled{"The match was stopped: nothing was changed.",
                                          "Подбор цветов остановлен: ничего не изменено."};
inline constexpr TextPair kMatchTooDark{
    "The video is too dark under the mesh to measure its colours: nothing was changed.",
    "Видео под сеткой слишком тёмное, чтобы измерить его цвета: ничего не изменено."};
inline constexpr TextPair kMatchTooClipped{
    "The video or the background is too clipped under the mesh (burnt out to white or black) to "
    "measure the colours: nothing was changed.",
    "Видео или фон под сеткой слишком пересвечены (выбиты в белое или чёрное), чтобы измерить "
    "цвета: ничего не изменено."};
inline constexpr TextPair kMatchFramesDisagree{
    "No frame looks like the background under the mesh (the camera moved too far, or the frames "
    "show something else): nothing was changed. Place the mesh on the frame shown and match "
    "again.",
    "Ни один кадр не похож на фон под сеткой (камера ушла слишком далеко, или в кадрах другое): "
    "ничего не изменено. Поместите сетку по показанному кадру и подберите цвета снова."};
inline constexpr TextPair kMatchOneFrameRange{
    "The range from the start frame to the stop frame holds one frame only: widen it, or set "
    "Frames to 0 to match the frame shown. Nothing was changed.",
    "В диапазоне от начального до конечного кадра только один кадр: расширьте его или задайте 0 "
    "кадров, чтобы подобрать цвета по показанному кадру. Ничего не изменено."};
// Said after kMatchDone when frames were left out: how many of all, and why.
inline constexpr TextPair kMatchLeftOutMoved{
    " %s of %s left out: the camera had moved too far from where the mesh puts the frame.",
    " Пропущено кадров: %s из %s — камера ушла слишком далеко от места, куда кадр ставит сетка."};
inline constexpr TextPair kMatchLeftOutUnlike{
    " %s of %s left out: unlike the background under the mesh (covered by something, or another "
    "place).",
    " Пропущено кадров: %s из %s — не похожи на фон под сеткой (что-то заслоняет, или другое "
    "место)."};
// The counts are words in English ("1 frame", "5 frames") and bare numbers
// after their nouns in Russian.
inline constexpr TextPair kMatchDone{"Colours matched: %s over %s.",
                                     "Цвета подобраны: кривых %s, кадров %s."};
inline constexpr TextPair kCurveCount{"%i curves", "%i"};
inline constexpr TextPair kOneCurve{"1 curve", "1"};
inline constexpr TextPair kFrameCount{"%i frames", "%i"};
inline constexpr TextPair kOneFrame{"1 frame", "1"};
}  // namespace message_texts

// The options dialog's translated controls; "FFMPEG.EXE", "FFPLAY.EXE" and
// "OK" are the same in both languages.
namespace options_texts {
inline constexpr TextPair kCaption{"Options", "Настройки"};
inline constexpr TextPair kExit{"Exit", "Выход"};
inline constexpr TextPair kWorkDir{"WORK DIR", "Рабочий каталог"};
inline constexpr TextPair kBrowse{"Browse", "Просмотр"};
inline constexpr TextPair kDownloadHint{
    "If FFMPEG not installed on this computer you can download if from",
    "Если FFMPEG не установлен на этом компьютере Вы можете скачать его"};
inline constexpr TextPair kHere{"here", "здесь"};
}  // namespace options_texts

// The about box's translated texts.
namespace about_texts {
inline constexpr TextPair kCaption{"About program", "О программе"};
// %s: the program's version (program_version).
inline constexpr TextPair kVersion{"Version %s", "Версия %s"};
}  // namespace about_texts

// Edit > "Area points…": the nine area points typed as numbers.
namespace area_point_texts {
inline constexpr TextPair kMenuItem{"Area points…", "Точки области…"};
inline constexpr TextPair kCaption{"Area points", "Точки области"};
inline constexpr TextPair kPointHeader{"Point", "Точка"};
inline constexpr TextPair kBoundsNote{"Background pixels: X from 0 to %i, Y from 0 to %i.",
                                      "Пиксели фона: X от 0 до %i, Y от 0 до %i."};
inline constexpr TextPair kOk{"OK", "OK"};
inline constexpr TextPair kCancel{"Cancel", "Отмена"};
// The points by their place in the mesh, index order; shown after their numbers 1 to 9.
inline constexpr TextPair kPointNames[9]{
    {"top left", "верхняя левая"},    {"top middle", "верхняя средняя"},
    {"top right", "верхняя правая"},  {"middle left", "средняя левая"},
    {"centre", "центральная"},        {"middle right", "средняя правая"},
    {"bottom left", "нижняя левая"},  {"bottom middle", "нижняя средняя"},
    {"bottom right", "нижняя правая"}};
// The field refused: its point ("5 (centre)") and the largest number it takes.
inline constexpr TextPair kRefusedX{"X of point %s must be a whole number from 0 to %i.",
                                    "X точки %s должен быть целым числом от 0 до %i."};
inline constexpr TextPair kRefusedY{"Y of point %s must be a whole number from 0 to %i.",
                                    "Y точки %s должен быть целым числом от 0 до %i."};
inline constexpr TextPair kNeedsBackground{
    "Open a background image first: the area points lie on it.",
    "Сначала откройте фон: точки области лежат на нём."};
}  // namespace area_point_texts

// The progress of the pass that measures the light of the clip's frames.
namespace light_pass_texts {
inline constexpr TextPair kMeasuring{"Measuring the clip's light…", "Измеряю свет видео…"};
inline constexpr TextPair kCancel{"Cancel", "Отмена"};
}  // namespace light_pass_texts

// The vendor's web site; the pages below live under it.
inline constexpr std::string_view kVendorSite = "https://tintora.example";

// The help page: the Russian page for exactly "rus", the English one otherwise.
std::string help_page_url(std::string_view language);

}  // namespace tintora
