#pragma once

#include "core/common/text_pair.hpp"

namespace tintora::viewer_texts {

// Why there is no hotspot to place or export.
inline constexpr TextPair kNeedsBackground{
    "Open the panorama first: the hotspot is placed on it.",
    "Сначала откройте панораму: хотспот размещается на ней."};
inline constexpr TextPair kNeedsClip{"Open a video first: it is the hotspot.",
                                     "Сначала откройте видео: оно и есть хотспот."};
inline constexpr TextPair kTooWide{
    "The mesh spans more than 150 degrees of the panorama: a flat hotspot cannot show so much. "
    "Place the mesh on a smaller part of it.",
    "Сетка охватывает больше 150 градусов панорамы: плоский хотспот не может показать столько. "
    "Поместите сетку на меньшую часть панорамы."};
inline constexpr TextPair kFolded{
    "The mesh is folded (a quarter of it is turned over), so the clip has no single place on "
    "the panorama. Move its points apart.",
    "Сетка перегнута (одна её четверть вывернута), поэтому у видео нет единственного места на "
    "панораме. Разведите её точки."};
inline constexpr TextPair kTooSmall{"The output frame is smaller than 2 by 2 pixels.",
                                    "Кадр на выходе меньше 2 на 2 точек."};
inline constexpr TextPair kNoPreviewPage{
    "The preview page's viewer (tintora-viewer.js) was not built beside the program: install "
    "nodejs and npm (tools/setup.sh) and build again.",
    "Просмотрщик страницы (tintora-viewer.js) не собран рядом с программой: установите nodejs "
    "и npm (tools/setup.sh) и соберите программу снова."};

// Service › "Panorama…": the background as a panorama viewer sees it, the
// mesh's model and the hotspot's soft edge.
inline constexpr TextPair kPanoramaMenuItem{"Panorama…", "Панорама…"};
inline constexpr TextPair kPanoramaCaption{"Panorama", "Панорама"};
inline constexpr TextPair kHfovLabel{"Horizontal field of view, degrees:",
                                     "Угол обзора по горизонтали, градусы:"};
inline constexpr TextPair kVfovLabel{"Vertical field of view, degrees:",
                                     "Угол обзора по вертикали, градусы:"};
inline constexpr TextPair kYawLabel{"Yaw of the centre, degrees:", "Азимут центра, градусы:"};
inline constexpr TextPair kPitchLabel{"Pitch of the centre, degrees:", "Наклон центра, градусы:"};
inline constexpr TextPair kMeshModelLabel{"Mesh model:", "Модель сетки:"};
// In MeshModel order.
inline constexpr TextPair kMeshModels[2]{{"Bilinear", "Билинейная"},
                                         {"Perspective", "Перспективная"}};
inline constexpr TextPair kEdgeBlendLabel{"Hotspot edge blend, pixels (0: a hard edge):",
                                          "Мягкий край хотспота, точки (0 — жёсткий край):"};
inline constexpr TextPair kDefaultsNote{
    "An empty angle takes the default shown in grey, which follows the picture's size.",
    "Пустой угол принимает значение по умолчанию (показано серым), зависящее от размера "
    "изображения."};
inline constexpr TextPair kRefusedHfov{
    "The horizontal field of view must be a number of degrees above 0 and at most 360, or "
    "empty for the default.",
    "Угол обзора по горизонтали должен быть числом градусов больше 0 и не больше 360 или "
    "пустым (значение по умолчанию)."};
inline constexpr TextPair kRefusedVfov{
    "The vertical field of view must be a number of degrees above 0 and at most 180, or "
    "empty for the default.",
    "Угол обзора по вертикали должен быть числом градусов больше 0 и не больше 180 или "
    "пустым (значение по умолчанию)."};
inline constexpr TextPair kRefusedYaw{
    "The yaw of the centre must be a number of degrees from -360 to 360, or empty for 0.",
    "Азимут центра должен быть числом градусов от -360 до 360 или пустым (0)."};
inline constexpr TextPair kRefusedPitch{
    "The pitch of the centre must be a number of degrees from -90 to 90, or empty for 0.",
    "Наклон центра должен быть числом градусов от -90 до 90 или пустым (0)."};
inline constexpr TextPair kRefusedEdgeBlend{
    "The edge blend must be a whole number of pixels from 0 (a hard edge) to 1000.",
    "Мягкий край должен быть целым числом точек от 0 (жёсткий край) до 1000."};

// Service › "Hotspot placement…": where the hotspot lies as the mesh stands.
inline constexpr TextPair kPlacementMenuItem{"Hotspot placement…", "Размещение хотспота…"};
inline constexpr TextPair kPlacementCaption{"Hotspot placement", "Размещение хотспота"};
inline constexpr TextPair kCentreLabel{"Centre:", "Центр:"};
inline constexpr TextPair kCentreValue{"yaw %s°, pitch %s°", "азимут %s°, наклон %s°"};
inline constexpr TextPair kSizeLabel{"Angular size:", "Угловой размер:"};
inline constexpr TextPair kSizeValue{"%s° across, %s° down", "%s° по горизонтали, %s° по вертикали"};
inline constexpr TextPair kFrameLabel{"Video frame:", "Кадр видео:"};
inline constexpr TextPair kFrameValue{"%s × %s pixels", "%s × %s точек"};
inline constexpr TextPair kModelsApartLabel{"Perspective model:", "Перспективная модель:"};
inline constexpr TextPair kModelsApartValue{
    "places the clip up to %s panorama pixels away from the bilinear one",
    "размещает видео до %s точек панорамы в стороне от билинейной"};
inline constexpr TextPair kSnippetLabel{"krpano hotspot:", "Хотспот krpano:"};
inline constexpr TextPair kCopy{"Copy", "Копировать"};
inline constexpr TextPair kPreview{"Preview in browser", "Просмотр в браузере"};
inline constexpr TextPair kBrowserNotStarted{"No browser could be started for the page:",
                                             "Не удалось запустить браузер для страницы:"};
inline constexpr TextPair kPreviewFolderNotMade{
    "No temporary folder could be made for the preview.",
    "Не удалось создать временную папку для просмотра."};

// The video window's File › "Save hotspot…".
inline constexpr TextPair kSaveHotspot{"Save hotspot…", "Сохранить хотспот…"};
inline constexpr std::string_view kHotspotFilter = "Hotspot (*.html *.mp4 *.webm);;All files (*)";

}  // namespace tintora::viewer_texts
