// The pages' logic as plain functions of plain values: the texts they show,
// what a folder chosen by Browse does, the ready page's summary, and the
// title font.
#include "pages/destination_page.h"
#include "pages/installing_page.h"
#include "pages/ready_page.h"
#include "pages/scaled_picture.h"
#include "pages/skin.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <map>

namespace {

// Free space by drive part, as the test decides it.
struct FreeSpace {
    explicit FreeSpace(std::map<std::wstring, double> free = {}) : byDrive(std::move(free)) {}
    std::map<std::wstring, double> byDrive;
    mutable std::vector<std::wstring> asked;
    double operator()(const std::wstring& drive) const
    {
        asked.push_back(drive);
        const auto found = byDrive.find(drive);
        return found == byDrive.end() ? 0.0 : found->second;
    }
};

TEST(DestinationTexts, AreTheFixedSentencesWithTheirValues)
{
    EXPECT_EQ(SpaceRequirementText(210), L"至少需要  210 MB 的可用磁盘空间");
    EXPECT_EQ(SpaceRequirementText(0), L"至少需要  0 MB 的可用磁盘空间");
    EXPECT_EQ(QuotedDisplayName(L"Quenlo棋牌"), L"“Quenlo棋牌”。");
    EXPECT_EQ(QuotedDisplayName(L""), L"“”。");
    EXPECT_EQ(LowDiskSpaceMessage(L"D:"), L"磁盘D:剩余空间不足，请释放磁盘空间或者选择其他磁盘安装！");
}

TEST(DestinationTexts, LowSpaceMessageIsCutToItsBuffer)
{
    const std::wstring message = LowDiskSpaceMessage(std::wstring(400, L'x'));
    EXPECT_EQ(message.size(), 259u);
    EXPECT_EQ(message.substr(0, 2), L"磁盘");
}

TEST(BrowseChoice, CancelledDialogChangesNothingAndMeasuresNothing)
{
    FreeSpace free({{L"D:", 1e6}});
    const BrowseOutcome outcome = DecideBrowseChoice(L"", 210, L"Quenlo棋牌", std::cref(free));
    EXPECT_EQ(outcome.kind, BrowseOutcome::Kind::kUnchanged);
    EXPECT_TRUE(free.asked.empty());
}

TEST(BrowseChoice, ExactlyTheRequiredSpaceIsEnough)
{
    FreeSpace free({{L"D:", 210.0}});
    const BrowseOutcome outcome = DecideBrowseChoice(L"D:\\Games", 210, L"Quenlo棋牌", std::cref(free));
    EXPECT_EQ(outcome.kind, BrowseOutcome::Kind::kAccepted);
    EXPECT_EQ(outcome.text, L"D:\\Games\\Quenlo棋牌");
    EXPECT_EQ(free.asked, std::vector<std::wstring>{L"D:"});
}

TEST(BrowseChoice, LessThanRequiredIsRefusedNamingTheDrive)
{
    FreeSpace free({{L"D:", 209.999}});
    const BrowseOutcome outcome = DecideBrowseChoice(L"D:\\Games", 210, L"Quenlo棋牌", std::cref(free));
    EXPECT_EQ(outcome.kind, BrowseOutcome::Kind::kRefused);
    EXPECT_EQ(outcome.text, LowDiskSpaceMessage(L"D:"));
}

TEST(BrowseChoice, DriveRootGetsOneBackslashBeforeTheName)
{
    FreeSpace free({{L"D:", 1e6}});
    EXPECT_EQ(DecideBrowseChoice(L"D:\\", 210, L"Quenlo棋牌", std::cref(free)).text, L"D:\\Quenlo棋牌");
}

TEST(BrowseChoice, NetworkFolderHasNoDrivePart)
{
    FreeSpace free;
    const BrowseOutcome outcome = DecideBrowseChoice(L"\\\\server\\share", 210, L"Quenlo棋牌", std::cref(free));
    EXPECT_EQ(outcome.kind, BrowseOutcome::Kind::kRefused);
    EXPECT_EQ(free.asked, std::vector<std::wstring>{L""});
    EXPECT_EQ(outcome.text, LowDiskSpaceMessage(L""));
}

TEST(BrowseChoice, NoRequirementAcceptsEveryChoice)
{
    FreeSpace free;
    EXPECT_EQ(DecideBrowseChoice(L"E:\\x", 0, L"", std::cref(free)).kind, BrowseOutcome::Kind::kAccepted);
}

TEST(Summary, SavedFolderUnderTheHeadingAndNoFallbackAsked)
{
    int asked = 0;
    const auto lines = SummaryLines(L"D:\\Program Files\\Tovani", [&] {
        ++asked;
        return std::optional<std::wstring>(L"C:\\Program Files");
    });
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"目标位置:", L"        D:\\Program Files\\Tovani"}));
    EXPECT_EQ(asked, 0);
}

TEST(Summary, NothingSavedShowsProgramFilesOrOnlyTheHeading)
{
    EXPECT_EQ(SummaryLines(L"", [] { return std::optional<std::wstring>(L"C:\\Program Files"); }),
              (std::vector<std::wstring>{L"目标位置:", L"        C:\\Program Files"}));
    EXPECT_EQ(SummaryLines(L"", [] { return std::optional<std::wstring>(); }),
              std::vector<std::wstring>{L"目标位置:"});
}

// Run under code pages 936 and 1252: on either the title draws Chinese.
TEST(Skin, TitleFontIsBoldAtItsHeightForTheScaleAndDrawsChinese)
{
    for (const auto& [dpi, height] : {std::pair{96u, 16}, std::pair{144u, 24}, std::pair{192u, 32}}) {
        const UniqueFont font = skin::MakeBoldFont(16, dpi);
        ASSERT_TRUE(font);
        LOGFONTW description{};
        ASSERT_TRUE(::GetObjectW(font.get(), sizeof(description), &description));
        EXPECT_EQ(description.lfHeight, height);
        EXPECT_EQ(description.lfWeight, FW_BOLD);
        EXPECT_STREQ(description.lfFaceName, L"宋体");
        EXPECT_TRUE(skin::FontCovers(font.get(), skin::kChineseSample));
    }
    EXPECT_FALSE(skin::FontCovers(nullptr, skin::kChineseSample));
}

TEST(ScaledPicture, DrawsFromTheNearestScaleAtOrAboveAndAveragesWhatItShrinks)
{
    const int all[] = {100, 150, 200};
    const int plain[] = {100};
    const int doubled[] = {100, 200};
    EXPECT_EQ(ChoosePictureScale(96, all), 100);
    EXPECT_EQ(ChoosePictureScale(120, all), 150);
    EXPECT_EQ(ChoosePictureScale(144, doubled), 200);
    EXPECT_EQ(ChoosePictureScale(192, all), 200);
    EXPECT_EQ(ChoosePictureScale(288, all), 200);
    EXPECT_EQ(ChoosePictureScale(192, plain), 100);
    EXPECT_EQ(ChoosePictureScale(96, {}), 0);

    const Pixels checker{2, 2, {0xFF000000, 0xFFFFFFFF, 0xFFFFFFFF, 0xFF000000}};
    EXPECT_EQ(ResamplePixels(checker, 2, 2).argb, checker.argb);
    EXPECT_EQ(ResamplePixels(checker, 1, 1).argb, std::vector<uint32_t>{0xFF808080});
    // Scaled up, a picture of one colour stays that colour everywhere.
    const Pixels plainRed{1, 1, {0xFFC01020}};
    EXPECT_EQ(ResamplePixels(plainRed, 3, 2).argb, std::vector<uint32_t>(6, 0xFFC01020));
}

}  // namespace

TEST(Skin, LongTextsPushTheRestOfTheirLineAlong)
{
    const skin::LineSpan laidOut[] = {{180, 75}, {255, 75}, {330, 75}};
    // Short texts keep the laid-out places.
    const int shortTexts[] = {64, 40, 64};
    auto spans = skin::FlowSpans(laidOut, shortTexts);
    EXPECT_EQ(spans[1].x, 255);
    EXPECT_EQ(spans[2].x, 330);
    // A name wider than its slot is widened to fit and the tail starts after it.
    const int longName[] = {64, 90, 64};
    spans = skin::FlowSpans(laidOut, longName);
    EXPECT_EQ(spans[1].x, 255);
    EXPECT_EQ(spans[1].width, 91);
    EXPECT_EQ(spans[2].x, 255 + 90 + 4);
    // An empty text takes no room but keeps its place.
    const int emptyName[] = {64, 0, 64};
    spans = skin::FlowSpans(laidOut, emptyName);
    EXPECT_EQ(spans[2].x, 330);
}

TEST(ProgressBar, HoldsAnyNumberOfEntries)
{
    ::InitCommonControls();
    HWND bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 400, 20, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(bar, nullptr);
    // The 16-bit range message up to its last value, the 32-bit one beyond.
    for (const int32_t total : {0, 100, 65529, 65530, 70000, 1000000}) {
        SCOPED_TRACE(total);
        SetProgressBar(bar, total > 0 ? total - 1 : 0, total + 6);
        EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0), total + 6);
        EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), total > 0 ? total - 1 : 0);
    }
    ::DestroyWindow(bar);

    // Where it stands, in its fixed range: by steps, and by bytes while
    // unpacking, past 4 GiB and near the top of 64 bits.
    constexpr uint64_t kGiB = 1ull << 30;
    const struct {
        int32_t position, upperBound;
        uint64_t done, total;
        int32_t expected;
    } cases[] = {
        {0, 0, 0, 0, 0},                                                  // nothing yet
        {3, 12, 0, 0, kBarRange / 4},                                     // a step of the run
        {12, 12, 0, 0, kBarRange},                                        // the last step
        {0, 7, 3 * kGiB, 6 * kGiB, kBarRange / 14},                       // half of one big file
        {0, 7, 5 * kGiB, 5 * kGiB, kBarRange / 7},                        // all of it: the steps remain
        {1, 1006, 4500 * kGiB / 1000, 9 * kGiB, kBarRange / 2 * 1000 / 1006},  // past 4 GiB
        {2, 10, (1ull << 63) + (1ull << 62), 1ull << 63, kBarRange * 4 / 10},  // done past the total
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.position << "/" << c.upperBound << " " << c.done << "/" << c.total);
        EXPECT_NEAR(BarPosition(c.position, c.upperBound, c.done, c.total), c.expected, 1);
    }
}

// The worker's entries reach the page as the page can draw them: a wake-up
// only when none is on its way, the newest entry always, at most once in
// 33 ms unless the worker asks for the drawing before it goes on, so the
// page always ends on the last entry and its bar position.
TEST(EntryPacer, DrawsTheNewestAtMostOnceAnIntervalAndTheLastWhenFlushed)
{
    struct Step {
        ULONGLONG at;
        const wchar_t* offered;  // the worker's entry, or null: the page wakes
        bool flush;
        bool wakes;              // the offer asks for a wake-up
        const wchar_t* drawn;    // what the page draws, or null
        ULONGLONG waitMs;        // when it comes back without drawing
    };
    const Step steps[] = {
        {0, L"a", false, true, nullptr, 0},
        {0, L"b", false, false, nullptr, 0},
        {1, nullptr, false, false, L"b", 0},
        {2, L"c", false, true, nullptr, 0},
        {5, nullptr, false, false, nullptr, 29},
        {6, L"d", false, false, nullptr, 0},
        {34, nullptr, false, false, L"d", 0},
        {35, nullptr, false, false, nullptr, 0},
        {36, L"e", false, true, nullptr, 0},
        {40, nullptr, true, false, L"e", 0},
        {41, nullptr, true, false, nullptr, 0},
    };
    EntryPacer pacer(33);
    int32_t position = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.at);
        if (step.offered) {
            EXPECT_EQ(pacer.Offer({L"正在解压文件", step.offered, ++position, 106}), step.wakes);
            continue;
        }
        ShownEntry entry;
        ULONGLONG waitMs = 99;
        const bool drawn = pacer.Take(step.at, step.flush, &entry, &waitMs);
        EXPECT_EQ(drawn, step.drawn != nullptr);
        EXPECT_EQ(waitMs, step.waitMs);
        if (drawn && step.drawn) {
            EXPECT_EQ(entry.name, step.drawn);
            EXPECT_EQ(entry.status, L"正在解压文件");
            EXPECT_EQ(entry.position, position);
            EXPECT_EQ(entry.upperBound, 106);
        }
    }
}
