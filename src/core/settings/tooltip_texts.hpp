#pragma once

#include "core/common/text_pair.hpp"

namespace tintora {

// Hints of the main window's controls.
namespace main_tooltips {
inline constexpr TextPair kRotation{"Turns the background picture by quarter turns",
                                    "Поворачивает фоновое изображение на четверть оборота"};
inline constexpr TextPair kScale{"How large the picture is shown",
                                 "В каком масштабе показывать изображение"};
inline constexpr TextPair kDensity{
    "How densely the video frame is drawn: below 100 % faster and dotted, above it without gaps",
    "Насколько плотно рисуется видео кадр: меньше 100 % быстрее и с точками, больше — без "
    "пропусков"};
inline constexpr TextPair kHideFrame{"Shows the background alone, with the nine markers (F4)",
                                     "Показывает только фон с девятью маркерами (F4)"};
inline constexpr TextPair kThumbnail{
    "Chooses the grid point to work on: its marker turns red, a left click on the picture "
    "moves it, a right click adds a pair to it",
    "Выбирает точку сетки для работы: её маркер становится красным, левый щелчок по "
    "изображению перемещает её, правый добавляет ей пару"};
inline constexpr TextPair kRefresh{"Draws the picture again (F5)",
                                   "Перерисовывает изображение (F5)"};
inline constexpr TextPair kDefaultLayout{
    "Puts the mesh back on thirds and halves of the background (F6)",
    "Возвращает сетку на трети и середины фона (F6)"};
inline constexpr TextPair kPicture{
    "Left button: drag a marker, or click to move the current point (ringed) there.\n"
    "Shift + drag a corner marker: the edge middles and the centre follow it.\n"
    "Middle click: centres the mesh. Right click: adds a pair to the current point.",
    "Левая кнопка: перетащите маркер или щёлкните, чтобы перенести туда\n"
    "текущую точку (в кольце).\n"
    "Shift + перетаскивание углового маркера: середины сторон и центр\n"
    "следуют за ним.\n"
    "Средняя кнопка: центрирует сетку. Правая: добавляет пару текущей точке."};
}  // namespace main_tooltips

// Hints of the video window's buttons and fields.
namespace video_tooltips {
inline constexpr TextPair kStart{
    "Sets the range's first frame (Start frame) to the frame shown",
    "Делает показанный кадр первым кадром диапазона (Начальный фрейм)"};
inline constexpr TextPair kBegin{"Shows the first frame", "Показывает первый кадр"};
inline constexpr TextPair kPrevious{"Shows the previous frame", "Показывает предыдущий кадр"};
inline constexpr TextPair kPlay{"Plays the clip in the external player from the frame shown",
                                "Воспроизводит видео во внешнем плеере с показанного кадра"};
inline constexpr TextPair kNext{"Shows the next frame", "Показывает следующий кадр"};
inline constexpr TextPair kEnd{"Shows the last frame", "Показывает последний кадр"};
inline constexpr TextPair kStop{
    "Sets the range's last frame (Stop frame) to the frame shown",
    "Делает показанный кадр последним кадром диапазона (Конечный фрейм)"};

inline constexpr TextPair kRotation{"Turns every frame by this angle",
                                    "Поворачивает каждый кадр на этот угол"};
inline constexpr TextPair kCutX{"Left edge of the cut, in pixels of the frame",
                                "Левый край кадрирования, в пикселях кадра"};
inline constexpr TextPair kCutY{"Top edge of the cut, in pixels of the frame",
                                "Верхний край кадрирования, в пикселях кадра"};
inline constexpr TextPair kCutWidth{"Width of the cut, at least 4 pixels",
                                    "Ширина кадрирования, не меньше 4 пикселей"};
inline constexpr TextPair kCutHeight{"Height of the cut, at least 4 pixels",
                                     "Высота кадрирования, не меньше 4 пикселей"};
inline constexpr TextPair kMirrorHorizontally{"Turns every frame upside down",
                                              "Переворачивает каждый кадр вверх ногами"};
inline constexpr TextPair kMirrorVertically{"Swaps the left and right of every frame",
                                            "Меняет местами левую и правую стороны кадра"};
inline constexpr TextPair kResampleList{"Chooses the output size, or Custom to type it",
                                        "Выбирает размер результата или Custom для своего"};
inline constexpr TextPair kResampleWidth{"Output width, 4 to 2000 pixels",
                                         "Ширина результата, от 4 до 2000 пикселей"};
inline constexpr TextPair kResampleHeight{"Output height, 4 to 2000 pixels",
                                          "Высота результата, от 4 до 2000 пикселей"};
inline constexpr TextPair kColorTransformation{
    "Turns the output grey or inverse after the correction",
    "Делает результат серым или негативным после коррекции"};
inline constexpr TextPair kPingPong{"Plays the range forwards, then backwards",
                                    "Проигрывает диапазон вперёд, затем назад"};
inline constexpr TextPair kStaticFrame{"The frame held at the end of the output",
                                       "Кадр, который держится в конце результата"};
inline constexpr TextPair kCount{"How many times the held frame follows the range (0 to 1000)",
                                 "Сколько раз держать кадр после диапазона (от 0 до 1000)"};
inline constexpr TextPair kStartFrame{"The range's first frame",
                                      "Первый кадр обрабатываемого диапазона"};
inline constexpr TextPair kStopFrame{"The range's last frame",
                                     "Последний кадр обрабатываемого диапазона"};
inline constexpr TextPair kOutputFps{"Frames per second of the output, 1 to 100",
                                     "Кадров в секунду в результате, от 1 до 100"};
inline constexpr TextPair kVideoBitrate{
    "Video bitrate of FLV, kbit/s; of MP4 and WebM with Quality \"Bitrate list\"",
    "Битрейт видео FLV, кбит/с; MP4 и WebM - при Качестве \"По списку битрейта\""};
inline constexpr TextPair kChannels{
    "Sound channels of the output (MP4 and WebM: once changed from Mono, 22050, 64)",
    "Звуковые каналы результата (MP4 и WebM: если изменены с Mono, 22050, 64)"};
inline constexpr TextPair kRate{
    "Sound sample rate of the output, Hz (MP4 and WebM: once changed from Mono, 22050, 64)",
    "Частота дискретизации звука результата, Гц (MP4 и WebM: если изменены с Mono, 22050, 64)"};
inline constexpr TextPair kAudioBitrate{
    "Sound bitrate of the output, kbit/s (MP4 and WebM: once changed from Mono, 22050, 64)",
    "Битрейт звука результата, кбит/с (MP4 и WebM: если изменены с Mono, 22050, 64)"};
inline constexpr TextPair kQuality{
    "The quality of MP4 and WebM: Automatic fits the frame size;\nHigh, Medium and Small are "
    "fixed levels; Bitrate list takes the video Bitrate, as FLV",
    "Качество MP4 и WebM: Автоматически - по размеру кадра;\nВысокое, Среднее и Малый файл - "
    "постоянные уровни; По списку битрейта - видео Битрейт, как у FLV"};
inline constexpr TextPair kInputFps{
    "Frames per second of the clip: places the sound and the player's start",
    "Кадров в секунду исходного видео: по ней вырезается звук и запускается плеер"};
inline constexpr TextPair kPosterImage{
    "Also writes the first output frame as NAME.jpg beside a video export",
    "Также сохраняет первый кадр результата как ИМЯ.jpg рядом с видео"};
}  // namespace video_tooltips

}  // namespace tintora
