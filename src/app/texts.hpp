#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tintora {

// One user-visible text in both interface languages (UTF-8).
struct TextPair {
    std::string_view eng;
    std::string_view rus;
};

// Message boxes and the windows that follow the language by polling show
// English only for exactly "eng" and Russian for anything else.
std::string_view message_text(const TextPair& text, std::string_view language);
// The main window shows Russian only for exactly "rus" and English otherwise.
std::string_view main_window_text(const TextPair& text, std::string_view language);

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
}  // namespace palette_texts

// The video window's translated controls.
namespace video_texts {
inline constexpr TextPair kFileMenu{"File", "Файл"};
inline constexpr TextPair kOpenVideo{"Open video", "Открыть видео"};
inline constexpr TextPair kSaveFlv{"Save flv", "Сохранить flv"};
inline constexpr TextPair kSaveJpegSequence{"Save jpeg sequence",
                                            "Сохранить jpeg последовательность"};
inline constexpr TextPair kSaveWav{"Save wav", "Сохранить wav"};
inline constexpr TextPair kEditMenu{"Edit", "Редактирование"};
inline constexpr TextPair kRotate0{"Rotate 0", "Вращение 0"};
inline constexpr TextPair kRotate90{"Rotate 90", "Вращение 90"};
inline constexpr TextPair kRotate180{"Rotate 180", "Вращение 180"};
inline constexpr TextPair kRotate270{"Rotate 270", "Вращение 270"};
inline constexpr TextPair kSetStartFrame{"Set start frame", "Установить начало"};
inline constexpr TextPair kSetStopFrame{"Set stop frame", "Установить конец"};
inline constexpr TextPair kSelectAllFrames{"Select all frames", "Выбрать все фреймы"};
inline constexpr TextPair kClearArea{"Clear area selection", "Очистить прямоугольное выделение"};
inline constexpr TextPair kSourcePage{"Source video", "Исходное видео"};
inline constexpr TextPair kResultPage{"Result", "Результат"};
inline constexpr TextPair kParametersPage{"Parameters", "Параметры"};
inline constexpr TextPair kStart{"Start", "Старт"};
inline constexpr TextPair kBegin{"Begin", "В начало"};
inline constexpr TextPair kPrevious{"Previous", "Назад"};
inline constexpr TextPair kPlay{"Play", "Воспр"};
inline constexpr TextPair kNext{"Next", "Далее"};
inline constexpr TextPair kEnd{"End", "В конец"};
inline constexpr TextPair kStop{"Stop", "Стоп"};
inline constexpr TextPair kRotateGroup{"Rotate", "Поворот"};
inline constexpr TextPair kCutGroup{"Cut", "Кадрирование"};
inline constexpr TextPair kMirrorGroup{"Mirror", "Отражение"};
inline constexpr TextPair kResampleGroup{"Resample", "Изменение разрешения"};
inline constexpr TextPair kColorGroup{"Color transformation", "Цветовые эффекты"};
inline constexpr TextPair kOutputGroup{"Output flv video", "Выходное flv видео"};
inline constexpr TextPair kInputGroup{"Input video", "Исходное видео"};
inline constexpr TextPair kWidth{"Width", "Ширина"};
inline constexpr TextPair kHeight{"Height", "Высота"};
inline constexpr TextPair kHorizontally{"horizontally", "горизонтально"};
inline constexpr TextPair kVertically{"vertically", "вертикально"};
inline constexpr TextPair kStartFrame{"Start frame", "Начальный фрейм"};
inline constexpr TextPair kStopFrame{"Stop frame", "Конечный фрейм"};
inline constexpr TextPair kFps{"FPS", "Частота кадров"};
inline constexpr TextPair kBitrate{"Bitrate", "Битрейт"};
inline constexpr TextPair kChannels{"Channels", "Каналы"};
inline constexpr TextPair kVolume{"Volume", "Громкость"};
inline constexpr TextPair kRate{"Rate", "Частота"};
inline constexpr TextPair kEffectsGroup{"Video effects", "Видео эффекты"};
inline constexpr TextPair kPingPong{"Ping-pong", "Пинг-понг"};
inline constexpr TextPair kStaticFrame{"Static frame", "Последний фрейм"};
inline constexpr TextPair kCount{"Count", "Кол-во"};

// Status bar texts; %i and %g stand for the numbers filled in.
inline constexpr TextPair kPosition{"Position: %i / %i", "Положение: %i / %i"};
inline constexpr TextPair kInputVideo{"Input video: %ix%i@%g", "Исходное видео: %ix%i@%g"};
inline constexpr TextPair kOutputVideo{"Output video: %ix%i@%g", "Результирующее видео: %ix%i@%g"};
inline constexpr TextPair kCursor{"Cursor: x=%i  y=%i", "Курсор: x=%i  y=%i"};
// The frame slider's hint, English in both languages.
inline constexpr std::string_view kRangeHint = "Start: %i, stop: %i";

// The import's progress dialog.
inline constexpr TextPair kImportTitle{"Opening video", "Открытие видео"};
inline constexpr TextPair kDescribing{"Reading the video's description…", "Чтение описания видео…"};
inline constexpr TextPair kExtracting{"Extracting frames: %i of %i", "Извлечение кадров: %i из %i"};
inline constexpr TextPair kExtractingUnknown{"Extracting frames: %i", "Извлечение кадров: %i"};
inline constexpr TextPair kExtractingSound{"Extracting sound…", "Извлечение звука…"};
inline constexpr TextPair kCancel{"Cancel", "Отмена"};
}  // namespace video_texts

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
inline constexpr TextPair kUndefinedFps{
    "Undefined FPS value! Please set it manually!",
    "Частота кадров неопределена! Пожалуйста введите его сами!"};
// Import failures; the details (program, folder, the encoder's last words) follow.
inline constexpr TextPair kWorkDirUnusable{"Can't prepare the working folder!",
                                           "Невозможно подготовить рабочий каталог!"};
inline constexpr TextPair kEncoderMissing{"Can't start the video encoder (ffmpeg)!",
                                          "Невозможно запустить видеокодер (ffmpeg)!"};
inline constexpr TextPair kExtractionFailed{"Can't extract frames from the video!",
                                            "Невозможно извлечь кадры из видео!"};
inline constexpr TextPair kSoundFailed{"Can't extract the sound of the video!",
                                       "Невозможно извлечь звук из видео!"};
inline constexpr TextPair kOpenVideoBeforeSavingFlv{
    "Open video before saving!", "Откройте исходное видео прежде чем сохранять результат!"};
inline constexpr TextPair kOpenVideoBeforeSaving{
    "Open video before saving!", "Откройте исходное видео пржде чем сохранять результат!"};
inline constexpr TextPair kOperationFinished{"Operation finished!", "Операция завершена!"};
inline constexpr TextPair kRunFailed{"The processing stopped with an error:",
                                     "Обработка остановлена из-за ошибки:"};
inline constexpr TextPair kPlayerMissing{"Can't start the video player (ffplay)!",
                                         "Невозможно запустить видеоплеер (ffplay)!"};
// The options dialog's "OK".
inline constexpr TextPair kFfmpegNotFound{"ffmpeg.exe not found!", "ffmpeg.exe не найден!"};
inline constexpr TextPair kFfplayNotFound{"ffplay.exe not found!", "ffplay.exe не найден!"};
inline constexpr TextPair kDirectoryNotExist{"Directory not exist!", "Каталог не существует!"};
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
// The format with each "%i" or "%g" replaced by the next value, in order.
std::string fill_in(std::string_view format, std::initializer_list<std::string> values);

std::string help_page_url(std::string_view language);
std::string krpano_services_url();

}  // namespace tintora
