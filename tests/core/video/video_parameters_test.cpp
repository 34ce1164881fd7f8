// The Parameters tab's exit rules, the resample list, and the whole-number
// reading they share, on the texts a user types.
#include "core/video/video_parameters.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tintora {
namespace {

using Field = ParameterField;

struct FieldText {
    Field field;
    std::string text;
};

struct ExitCase {
    std::string name;
    Field left;                    // the field the focus leaves
    std::vector<FieldText> typed;  // texts before
    std::vector<FieldText> shown;  // texts after
};

class ExitRuleTest : public testing::TestWithParam<ExitCase> {};

TEST_P(ExitRuleTest, ClampsAndWritesBack) {
    VideoSession session;
    session.FrameWidth = 640;
    session.FrameHeight = 480;
    session.FrameCount = 120;
    VideoParameters parameters;
    for (const FieldText& t : GetParam().typed) parameters.text(t.field) = t.text;
    apply_exit_rule(GetParam().left, session, parameters);
    for (const FieldText& t : GetParam().shown) {
        EXPECT_EQ(parameters.text(t.field), t.text) << "field " << static_cast<int>(t.field);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ExitRuleTest,
    testing::Values(
        // A clip's own rate stays as it is (the encoder takes 29.97 as 30000/1001).
        ExitCase{"OutputRateWithFraction",
                 Field::OutputFps,
                 {{Field::OutputFps, "29.97"}},
                 {{Field::OutputFps, "29.97"}}},
        ExitCase{"OutputRateWithDecimalComma",
                 Field::OutputFps,
                 {{Field::OutputFps, "23,976"}},
                 {{Field::OutputFps, "23.976"}}},
        ExitCase{"InputRateWithFraction",
                 Field::InputFps,
                 {{Field::InputFps, "29.97"}},
                 {{Field::InputFps, "29.97"}}},
        // Text that is no rate keeps the rate there was (25 at the start).
        ExitCase{"OutputRateNotANumber",
                 Field::OutputFps,
                 {{Field::OutputFps, "fast"}},
                 {{Field::OutputFps, "25"}}},
        ExitCase{"OutputRateZero",
                 Field::OutputFps,
                 {{Field::OutputFps, "0"}},
                 {{Field::OutputFps, "1"}}},
        ExitCase{"OutputRateHigh",
                 Field::OutputFps,
                 {{Field::OutputFps, "250"}},
                 {{Field::OutputFps, "100"}}},
        ExitCase{
            "InputRateLow", Field::InputFps, {{Field::InputFps, "3"}}, {{Field::InputFps, "5"}}},
        ExitCase{"VolumeZero", Field::Volume, {{Field::Volume, "0"}}, {{Field::Volume, "1"}}},
        ExitCase{"VolumeNegative", Field::Volume, {{Field::Volume, "-7"}}, {{Field::Volume, "1"}}},
        ExitCase{"VolumeHigh", Field::Volume, {{Field::Volume, "300"}}, {{Field::Volume, "256"}}},
        ExitCase{"VolumeEmpty", Field::Volume, {{Field::Volume, ""}}, {{Field::Volume, "255"}}},
        ExitCase{"CutXBeyondFrame",
                 Field::CutX,
                 {{Field::CutX, "700"}, {Field::CutWidth, "100"}},
                 {{Field::CutX, "636"}, {Field::CutWidth, "4"}}},
        ExitCase{"CutYNegative",
                 Field::CutY,
                 {{Field::CutY, "-5"}, {Field::CutHeight, "600"}},
                 {{Field::CutY, "0"}, {Field::CutHeight, "480"}}},
        ExitCase{"CutWidthTwo",
                 Field::CutWidth,
                 {{Field::CutX, "0"}, {Field::CutWidth, "2"}},
                 {{Field::CutWidth, "4"}}},
        ExitCase{"CutWidthEmpty",
                 Field::CutWidth,
                 {{Field::CutX, "600"}, {Field::CutWidth, ""}},
                 {{Field::CutX, "600"}, {Field::CutWidth, "40"}}},
        ExitCase{"CutHeightKeepsTypedCorner",
                 Field::CutHeight,
                 {{Field::CutY, "-50"}, {Field::CutHeight, "700"}},
                 {{Field::CutY, "-50"}, {Field::CutHeight, "530"}}},
        ExitCase{"ResampleWidthSmall",
                 Field::ResampleWidth,
                 {{Field::ResampleWidth, "3"}},
                 {{Field::ResampleWidth, "4"}}},
        ExitCase{"ResampleHeightLarge",
                 Field::ResampleHeight,
                 {{Field::ResampleHeight, "5000"}},
                 {{Field::ResampleHeight, "2000"}}},
        ExitCase{"StopBelowStartPullsStartDown",
                 Field::StopFrame,
                 {{Field::StartFrame, "10"}, {Field::StopFrame, "5"}},
                 {{Field::StartFrame, "5"}, {Field::StopFrame, "5"}}},
        ExitCase{"StartAboveStopPullsStopUp",
                 Field::StartFrame,
                 {{Field::StartFrame, "10"}, {Field::StopFrame, "5"}},
                 {{Field::StartFrame, "10"}, {Field::StopFrame, "10"}}},
        ExitCase{"StopBeyondClip",
                 Field::StopFrame,
                 {{Field::StartFrame, ""}, {Field::StopFrame, "999"}},
                 {{Field::StartFrame, "1"}, {Field::StopFrame, "120"}}},
        ExitCase{"StartEmptyStopEmpty",
                 Field::StartFrame,
                 {},
                 {{Field::StartFrame, "1"}, {Field::StopFrame, "120"}}},
        ExitCase{"CountNegative", Field::Count, {{Field::Count, "-3"}}, {{Field::Count, "0"}}},
        ExitCase{"CountHigh", Field::Count, {{Field::Count, "5000"}}, {{Field::Count, "1000"}}},
        ExitCase{"StaticFrameBeyondClip",
                 Field::StaticFrame,
                 {{Field::StaticFrame, "500"}},
                 {{Field::StaticFrame, "120"}}}),
    [](const testing::TestParamInfo<ExitCase>& info) { return info.param.name; });

TEST(ExitRuleStoredValues, RatesAreStoredAsTypedOrSaidAndCutSidesFitTheFrame) {
    VideoSession session;
    session.FrameWidth = 640;
    session.FrameHeight = 480;
    VideoParameters parameters;
    parameters.text(Field::OutputFps) = " 29.97 ";
    EXPECT_EQ(apply_exit_rule(Field::OutputFps, session, parameters), AfterExit::Nothing);
    EXPECT_EQ(session.OutputFps, 29.97);
    EXPECT_EQ(parameters.exit_message, "");
    // Not silently: a rate out of range, or no rate, is said in the language.
    parameters.text(Field::OutputFps) = "250";
    apply_exit_rule(Field::OutputFps, session, parameters);
    EXPECT_EQ(parameters.exit_message,
              "\"250\" is not a frame rate from 1 to 100 frames per second: the field now holds "
              "100.");
    parameters.text(Field::InputFps) = "fast";
    apply_exit_rule(Field::InputFps, session, parameters, "rus");
    EXPECT_EQ(parameters.exit_message,
              "\"fast\" - не частота кадров от 5 до 100 кадров в секунду: в поле теперь 25.");
    parameters.text(Field::CutX) = "100";
    parameters.text(Field::CutWidth) = "2147483647";  // the sum must not wrap
    EXPECT_EQ(apply_exit_rule(Field::CutX, session, parameters), AfterExit::DrawSelection);
    EXPECT_EQ(session.CutX, 100);
    EXPECT_EQ(session.CutWidth, 540);
}

TEST(ExitRuleWithoutVideo, StartAndStaticEndAtZeroAndStopAtOne) {
    VideoSession session;
    VideoParameters parameters;
    parameters.text(Field::StaticFrame) = "5";
    apply_exit_rule(Field::StartFrame, session, parameters);
    apply_exit_rule(Field::StaticFrame, session, parameters);
    EXPECT_EQ(parameters.text(Field::StartFrame), "0");
    EXPECT_EQ(parameters.text(Field::StaticFrame), "0");
    parameters.text(Field::StartFrame) = "";
    apply_exit_rule(Field::StopFrame, session, parameters);
    EXPECT_EQ(parameters.text(Field::StopFrame), "1");
}

TEST(WholeNumber, AcceptsSignAndBlanksOnly) {
    EXPECT_EQ(parse_whole_number(" 42 "), 42);
    EXPECT_EQ(parse_whole_number("+7"), 7);
    EXPECT_EQ(parse_whole_number("-3"), -3);
    for (const char* text :
         {"", " ", "4.5", "29.97", "1e3", "abc", "12abc", "+-1", "++1", "2147483648", "0x10"}) {
        EXPECT_FALSE(parse_whole_number(text).has_value()) << '"' << text << '"';
    }
}

TEST(ResampleList, FillsOnlyTheTwoFields) {
    VideoSession session;
    session.FrameWidth = 640;
    session.FrameHeight = 480;
    session.ResampleWidth = 11;
    VideoParameters parameters;
    parameters.text(Field::CutWidth) = "639";
    parameters.text(Field::CutHeight) = "479";
    choose_resample_item(kCustomResampling, session, parameters);
    EXPECT_EQ(parameters.text(Field::ResampleWidth), "639");
    EXPECT_EQ(parameters.text(Field::ResampleHeight), "479");
    choose_resample_item(11, session, parameters);  // "1080x1920"
    EXPECT_EQ(parameters.text(Field::ResampleWidth), "1080");
    EXPECT_EQ(parameters.text(Field::ResampleHeight), "1920");
    parameters.text(Field::CutWidth) = "0";  // a 0 shows as an empty field
    parameters.text(Field::CutHeight) = "";
    choose_resample_item(kCustomResampling, session, parameters);
    EXPECT_EQ(parameters.text(Field::ResampleWidth), "");
    EXPECT_EQ(parameters.text(Field::ResampleHeight), "480");
    choose_resample_item(kNoResampling, session, parameters);
    EXPECT_EQ(parameters.text(Field::ResampleWidth), "");
    EXPECT_EQ(parameters.text(Field::ResampleHeight), "");
    EXPECT_EQ(session.ResampleWidth, 11);
}

TEST(RateText, ShortestForm) {
    EXPECT_EQ(format_rate(25.0), "25");
    EXPECT_EQ(format_rate(29.97), "29.97");
    EXPECT_EQ(format_g(1.96), "1.96");
    EXPECT_EQ(format_g(30000.0 / 1001.0), "29.97");
}

}  // namespace
}  // namespace tintora
