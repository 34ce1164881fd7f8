// The hotspot's files as text: the names, the JSON and krpano's XML of a
// known frame, and a page no file name can break.
#include "core/viewer/hotspot_files.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tintora {
namespace {

HotspotFrame known_frame() {
    HotspotFrame frame;
    frame.plane = TangentPlane::at(direction_of({20, 10}));
    frame.centre = {20, 10};
    frame.tan_alpha = 0.25;
    frame.tan_beta = 0.125;
    frame.width = 1024;
    frame.height = 512;
    frame.corners = {Angles{5, 17}, Angles{35, 17}, Angles{35, 3}, Angles{5, 3}};
    frame.krpano = {20, -10, 250, 125};
    return frame;
}

TEST(HotspotFiles, NamesTheJsonAndTheXmlSayWhereItIs) {
    const HotspotFiles files = hotspot_files("/tours/lobby.MP4");
    EXPECT_EQ(files.mp4, "/tours/lobby.mp4");
    EXPECT_EQ(files.webm, "/tours/lobby.webm");
    EXPECT_EQ(files.media, "/tours/lobby_media.js");
    EXPECT_EQ(files.viewer, "/tours/tintora-viewer.js");
    EXPECT_EQ(hotspot_files("/tours/lobby.v2").json, "/tours/lobby.v2.json");

    const PanoramaGeometry panorama{4096, 2048, 360, 180, 0, 0};
    EXPECT_EQ(hotspot_json(known_frame(), panorama, "pano \"main\".jpg", files),
              "{\n"
              "  \"video\": {\"mp4\": \"lobby.mp4\", \"webm\": \"lobby.webm\", \"poster\": "
              "\"lobby.jpg\", \"width\": 1024, \"height\": 512},\n"
              "  \"panorama\": {\"image\": \"pano \\\"main\\\".jpg\", \"width\": 4096, "
              "\"height\": 2048, \"hfov\": 360, \"vfov\": 180, \"yaw\": 0, \"pitch\": 0},\n"
              "  \"centre\": {\"yaw\": 20, \"pitch\": 10},\n"
              "  \"fov\": {\"horizontal\": 28.07248694, \"vertical\": 14.2500327},\n"
              "  \"corners\": [{\"yaw\": 5, \"pitch\": 17}, {\"yaw\": 35, \"pitch\": 17}, "
              "{\"yaw\": 35, \"pitch\": 3}, {\"yaw\": 5, \"pitch\": 3}],\n"
              "  \"krpano\": {\"ath\": 20, \"atv\": -10, \"width\": 250, \"height\": 125, "
              "\"distorted\": true, \"edge\": \"center\"}\n"
              "}\n");
    const std::string xml = krpano_hotspot_xml(known_frame(), files);
    for (const char* attribute :
         {"videourl=\"lobby.mp4|lobby.webm\"", "posterurl=\"lobby.jpg\"", "distorted=\"true\"",
          "edge=\"center\"", "ath=\"20\" atv=\"-10\"", "width=\"250\" height=\"125\"",
          "loop=\"true\"", "muted=\"true\"", "playsinline=\"true\""}) {
        EXPECT_NE(xml.find(attribute), std::string::npos) << attribute;
    }
}

TEST(HotspotFiles, ThePageAndItsMediaHoldWhatTheyAreGiven) {
    const std::string page_template =
        "<html><script>window.TINTORA_HOTSPOT = /*TINTORA_HOTSPOT_JSON*/null;</script></html>";
    const std::optional<std::string> page =
        hotspot_page(page_template, "{\"image\": \"</script><b>.jpg\"}\n");
    ASSERT_TRUE(page);
    EXPECT_EQ(*page,
              "<html><script>window.TINTORA_HOTSPOT = {\"image\": "
              "\"\\u003c/script>\\u003cb>.jpg\"};</script></html>");
    EXPECT_FALSE(hotspot_page("<html></html>", "{}"));

    const std::vector<std::uint8_t> jpeg{0xFF, 0xD8, 'M'};
    const std::vector<std::uint8_t> mp4{'M', 'a', 'n', 'M', 'a'};
    EXPECT_EQ(media_script(jpeg, mp4),
              "window.TINTORA_MEDIA = {\"panorama\": \"data:image/jpeg;base64,/9hN\", "
              "\"video\": \"data:video/mp4;base64,TWFuTWE=\"};\n");
}

}  // namespace
}  // namespace tintora
