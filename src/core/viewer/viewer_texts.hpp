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

}  // namespace tintora::viewer_texts
