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
inline constexpr TextPair kVersion{"Version 2.0", "Версия 2.0"};
}  // namespace about_texts

// The vendor's web site; the pages below live under it.
inline constexpr std::string_view kVendorSite = "https://tintora.example";

// The help page: the Russian page for exactly "rus", the English one otherwise.
std::string help_page_url(std::string_view language);
std::string krpano_services_url();

}  // namespace tintora
