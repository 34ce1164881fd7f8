#pragma once

#include <array>
#include <string_view>

#include "core/common/text_pair.hpp"

namespace tintora {

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

// Messages of the video workspace.
namespace message_texts {
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
}  // namespace message_texts

// Export and render failures. A detail line of the program's own is said in
// the interface language; what the encoder said is quoted as it stands.
namespace message_texts {
inline constexpr TextPair kWorkDirInUse{
    "The working folder \"%s\" is in use by another Tintora! Wait until it has finished, or "
    "choose another working folder.",
    "Рабочий каталог \"%s\" занят другой копией Tintora! Дождитесь окончания её работы или "
    "выберите другой рабочий каталог."};
inline constexpr TextPair kClipUnreadable{"Can't read the video file!",
                                          "Невозможно прочитать видеофайл!"};
inline constexpr TextPair kNotARegularFile{"\"%s\" is not a regular file.",
                                           "\"%s\" не является обычным файлом."};
inline constexpr TextPair kFrameMissing{"Frame %i of %i is missing after the extraction.",
                                        "Кадр %i из %i отсутствует после извлечения."};
inline constexpr TextPair kNoOutputName{"No output file name was given!",
                                        "Не задано имя выходного файла!"};
inline constexpr TextPair kOutputIsSource{
    "\"%s\" is the project's own video or background! Choose another name.",
    "\"%s\" - это исходное видео или фон проекта! Выберите другое имя."};
inline constexpr TextPair kOutputIsWorkFile{
    "\"%s\" is a file Tintora itself writes in the working folder! Choose another name.",
    "\"%s\" - это рабочий файл Tintora в рабочем каталоге! Выберите другое имя."};
inline constexpr TextPair kExportCancelled{"Export cancelled! The file was not written.",
                                           "Экспорт отменён! Файл не записан."};
// Cancel pressed when the encoding had already put its file in place.
inline constexpr TextPair kExportAlreadyFinished{
    "The export had already finished: the file is in place.",
    "Экспорт уже завершился: файл сохранён."};
inline constexpr TextPair kCantStartProgram{"Can't start \"%s\": %s",
                                            "Невозможно запустить \"%s\": %s"};
inline constexpr TextPair kProgramExited{"%s ended with exit status %i.",
                                         "%s завершился с кодом %i."};
inline constexpr TextPair kProgramStopped{"%s was stopped by signal %i.",
                                          "%s остановлен сигналом %i."};
inline constexpr TextPair kCommandLine{"Command: %s", "Команда: %s"};
inline constexpr TextPair kNothingWritten{"%s wrote nothing into \"%s\".",
                                          "%s ничего не записал в \"%s\"."};
inline constexpr TextPair kEncodingStage{"Encoding: %i of %i frames",
                                         "Кодирование: %i из %i кадров"};
inline constexpr TextPair kStopRunQuestion{"A processing run is still going on. Stop it first?",
                                           "Обработка видео ещё идёт. Остановить её?"};
inline constexpr TextPair kStopRun{"Stop the run", "Остановить"};
}  // namespace message_texts

// Video for panorama viewers: the "Save video…" item, the poster check and
// their messages.
namespace video_texts {
inline constexpr TextPair kSaveVideoAs{"Save video…", "Сохранить видео…"};
inline constexpr TextPair kPosterImage{"Poster image", "Кадр-заставка"};
// The Quality list of MP4 and WebM and its items, in the order of kQualityItems.
inline constexpr TextPair kQuality{"Quality", "Качество"};
inline constexpr std::array<TextPair, 5> kQualityChoices{{{"Automatic", "Автоматически"},
                                                          {"High", "Высокое"},
                                                          {"Medium", "Среднее"},
                                                          {"Small", "Малый файл"},
                                                          {"Bitrate list", "По списку битрейта"}}};
// Under the output's lists: which of them each format follows.
inline constexpr TextPair kFormatNote{
    "FLV: Bitrate, Channels, Rate.\nMP4, WebM: Quality; sound 48 kHz stereo 128 kbit/s "
    "until Channels, Rate or the sound's Bitrate is changed.",
    "FLV: Битрейт, Каналы, Частота.\nMP4, WebM: Качество; звук 48 кГц стерео 128 кбит/с, "
    "пока Каналы, Частота и Битрейт звука не изменены."};
// The save dialog's filters, in their order.
inline constexpr std::string_view kMp4Filter = "MP4 video (H.264, AAC) (*.mp4)";
inline constexpr std::string_view kWebMFilter = "WebM video (VP9, Opus) (*.webm)";
inline constexpr std::string_view kFlvFilter = "Flash video (*.flv)";
}  // namespace video_texts

namespace message_texts {
inline constexpr TextPair kUnknownVideoFormat{
    "\"%s\" names no video format Tintora writes! End the name in .mp4 (H.264, AAC), .webm "
    "(VP9, Opus) or .flv.",
    "Tintora не записывает видео в формате \"%s\"! Имя должно оканчиваться на .mp4 (H.264, "
    "AAC), .webm (VP9, Opus) или .flv."};
inline constexpr TextPair kStoppedReading{"%s stopped reading the frames after %i of %i.",
                                          "%s перестал читать кадры после %i из %i."};
// An encoder that exited with 0 but whose file cannot be trusted.
// Frames in the working folder that another import put there.
inline constexpr TextPair kForeignFrames{
    "The frames in the working folder \"%s\" are no longer those of \"%s\": another Tintora "
    "has used the folder. Open the video again.",
    "Кадры в рабочем каталоге \"%s\" уже не от \"%s\": каталогом воспользовалась другая "
    "копия Tintora. Откройте видео заново."};
inline constexpr TextPair kOutputTooSmall{
    "The output frame is %i by %i pixels; this video format needs at least 2 by 2.",
    "Кадр на выходе %i на %i точек; этому формату видео нужно не меньше 2 на 2."};
inline constexpr TextPair kOutputIsProject{
    "\"%s\" is the project file itself! Choose another name.",
    "\"%s\" - это сам файл проекта! Выберите другое имя."};
inline constexpr TextPair kOutputsClash{
    "\"%s\" and \"%s\" are the same file, and both are written by this export! Choose "
    "another name.",
    "\"%s\" и \"%s\" - один и тот же файл, а этот экспорт записывает оба! Выберите другое "
    "имя."};
// A rate field left with text it cannot take as it stands.
inline constexpr TextPair kRateNotTaken{
    "\"%s\" is not a frame rate from %s to %s frames per second: the field now holds %s.",
    "\"%s\" - не частота кадров от %s до %s кадров в секунду: в поле теперь %s."};
inline constexpr TextPair kEncodedTooFew{
    "%s reported %i of %i frames encoded: the video is not whole, and the earlier file was kept.",
    "%s сообщил о %i из %i закодированных кадров: видео неполное, прежний файл сохранён."};
inline constexpr TextPair kEncoderWriteFailed{
    "%s could not finish its file: %s\nThe earlier file was kept.",
    "%s не смог завершить файл: %s\nПрежний файл сохранён."};
inline constexpr TextPair kOutputNotWhole{
    "%s wrote \"%s\", but the file is not whole (%s). The earlier file was kept.",
    "%s записал \"%s\", но файл неполный (%s). Прежний файл сохранён."};
}  // namespace message_texts

}  // namespace tintora
