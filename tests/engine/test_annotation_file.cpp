// Reading annotation files through annopen, getann and iannsettime, on small
// files written by the test: both formats, the labels that open a file, time
// scaling, seeking, and files that are cut short or malformed.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "annotation_capture.h"
#include "annotation_writer.h"
#include "annotations/annotation_time_scale.h"
#include "errors/error_state.h"
#include "record_dir_fixture.h"
#include "wfdb/ecgcodes.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/input_annotators.h"
#include "wfdb_interface/record_state.h"

namespace {

using sigtrove::testing::AhaAnnotationWriter;
using sigtrove::testing::AhaEntry;
using sigtrove::testing::Delivered;
using sigtrove::testing::MitAnnotationWriter;
using sigtrove::testing::MitEntry;
using sigtrove::testing::read_all;
using sigtrove::testing::ReadOutcome;

std::string bytes_of(const char *text, size_t size) { return std::string(text, size); }

class AnnotationFileTest : public sigtrove::testing::RecordDirTest {
protected:
    ~AnnotationFileTest() override { sigtrove::engine::close_annotation_files(); }

    void write(const std::string &name, const std::string &bytes) { dir.write(name, bytes); }

    // annopen with each annotator's own name buffer, as a C caller would pass them.
    int open(std::string record, const std::vector<std::pair<std::string, int>> &annotators) {
        std::vector<std::string> names;
        for (const auto &entry : annotators) names.push_back(entry.first);
        std::vector<WFDB_Anninfo> infos;
        for (size_t i = 0; i < annotators.size(); ++i) {
            infos.push_back({names[i].data(), annotators[i].second});
        }
        return annopen(record.data(), infos.data(), static_cast<unsigned>(infos.size()));
    }
    int open(const std::string &record, const std::string &annotator, int stat = WFDB_READ) {
        return open(record, {{annotator, stat}});
    }

    // A text that no engine call records, to see whether a call recorded one.
    static void mark_error_text() { sigtrove::engine::record_error("marker\n"); }
    static std::string error_text() { return wfdberror(); }
};

// The MIT format: pseudo-codes, registers carried from one annotation to the next, aux texts.
TEST_F(AnnotationFileTest, MitModifiersApplyAsTheFormatDefines) {
    std::string all_bytes;
    for (int i = 0; i < 255; ++i) all_bytes += static_cast<char>(255 - i);
    MitAnnotationWriter file;
    file.add({.time = 5, .type = NORMAL})
        .add({.time = 2000, .type = PVC, .subtyp = 3, .chan = 2, .num = 7, .aux = "ab"})
        .add({.time = 2001, .type = NORMAL, .chan = 2, .num = 7})  // channel and number carried
        .add({.time = 2002, .type = NOTQRS})                       // a null annotation inside the file
        .add({.time = 1500, .type = RHYTHM, .aux = bytes_of("(N\0", 3)})
        .add({.time = 1600, .type = NOTE, .aux = all_bytes});
    // 10-bit data cut to the 8-bit fields: subtype and number signed, channel unsigned.
    file.word(NORMAL, 10).word(61, 0x3FF).word(60, 0x3FF).word(62, 0x3FF);
    // A SKIP among the modifiers moves the next annotation; a SUB after it still
    // belongs to the annotation before.
    file.word(PVC, 5).skip(100).word(61, 4).word(NORMAL, 0);
    write("rec.atr", file.finish());

    ASSERT_EQ(open("rec", "atr"), 0);
    ReadOutcome read = read_all(0);
    std::vector<Delivered> expected = {
        {5, NORMAL, 0, 0, 0, {}},
        {2000, PVC, 3, 2, 7, "ab"},
        {2001, NORMAL, 0, 2, 7, {}},
        {2002, NOTQRS, 0, 0, 0, {}},
        {1500, RHYTHM, 0, 0, 0, bytes_of("(N\0", 3)},
        {1600, NOTE, 0, 0, 0, all_bytes},
        {1610, NORMAL, -1, 255, -1, {}},
        {1615, PVC, 4, 255, -1, {}},
        {1715, NORMAL, 0, 255, -1, {}},
    };
    EXPECT_EQ(read.annotations, expected);
    EXPECT_EQ(read.stop, -1);
    WFDB_Annotation after{};
    EXPECT_EQ(getann(0, &after), -1);  // the end stays the end
}

TEST_F(AnnotationFileTest, TimesNeedingMoreThan32BitsAreExact) {
    MitAnnotationWriter file;
    file.add({.time = 10'000'000'000L, .type = NORMAL});  // several SKIPs of the largest interval
    file.add({.time = 10'000'000'001L, .type = PVC});
    write("huge.qrs", file.finish());

    ASSERT_EQ(open("huge", "qrs"), 0);
    ReadOutcome read = read_all(0);
    ASSERT_EQ(read.annotations.size(), 2u);
    EXPECT_EQ(read.annotations[0].time, 10'000'000'000L);
    EXPECT_EQ(read.annotations[1].time, 10'000'000'001L);
    ASSERT_EQ(iannsettime(10'000'000'001L), 0);
    EXPECT_EQ(read_all(0).annotations.front().time, 10'000'000'001L);
}

TEST_F(AnnotationFileTest, AuxTextStaysValidUntilTheNextGetannOnItsAnnotator) {
    write("rec.a", MitAnnotationWriter().add({.time = 1, .aux = "first"}).add({.time = 2, .aux = "second"}).finish());
    write("rec.b", MitAnnotationWriter().add({.time = 1, .aux = "other"}).finish());
    ASSERT_EQ(open("rec", {{"a", WFDB_READ}, {"b", WFDB_READ}}), 0);

    WFDB_Annotation from_a{}, from_b{};
    ASSERT_EQ(getann(0, &from_a), 0);
    unsigned char *kept = from_a.aux;
    ASSERT_EQ(getann(1, &from_b), 0);
    ASSERT_EQ(iannsettime(1), 0);  // seeking discards annotations, not the one delivered
    EXPECT_EQ(std::string(reinterpret_cast<char *>(kept) + 1, kept[0]), "first");
    EXPECT_EQ(kept[1 + kept[0]], 0);  // a NUL follows the text
    EXPECT_EQ(std::string(reinterpret_cast<char *>(from_b.aux) + 1), "other");
}

// The labels at time 0 that open a file define codes and are never delivered,
// neither after the open nor after a seek to the start.
TEST_F(AnnotationFileTest, ModificationLabelsAreAppliedAndHidden) {
    MitAnnotationWriter file;
    file.label("## annotation type definitions")
        .label("45 K kink in the line\n")
        .label("46 W2\n")
        .label("## end of definitions")
        .skip(-1)
        .add({.time = 0, .type = NOTQRS})  // the empty annotation that closes a table
        .add({.time = 0, .type = NOTE, .subtyp = 1, .aux = "kept: subtype 1"})
        .add({.time = 10, .type = 45})
        .add({.time = 20, .type = NOTE, .aux = "47 Z too late"});
    write("rec.atr", file.finish());

    mark_error_text();
    ASSERT_EQ(open("rec", "atr"), 0);
    EXPECT_EQ(error_text(), "marker\n");
    EXPECT_STREQ(annstr(45), "K");
    EXPECT_STREQ(anndesc(45), "kink in the line");
    EXPECT_STREQ(annstr(46), "W2");
    EXPECT_STREQ(anndesc(46), "");
    EXPECT_EQ(anndesc(47), nullptr);

    std::vector<Delivered> expected = {
        {0, NOTE, 1, 0, 0, "kept: subtype 1"},
        {10, 45, 0, 0, 0, {}},
        {20, NOTE, 0, 0, 0, "47 Z too late"},
    };
    EXPECT_EQ(read_all(0).annotations, expected);
    ASSERT_EQ(iannsettime(0), 0);
    EXPECT_EQ(read_all(0).annotations, expected);
    ASSERT_EQ(iannsettime(LONG_MIN), 0);
    EXPECT_EQ(read_all(0).annotations, expected);
}

TEST_F(AnnotationFileTest, AFileOfLabelsOnlyDeliversNothing) {
    write("rec.atr", MitAnnotationWriter().label("## time resolution: 1000").label("gqrs -r rec").finish());
    ASSERT_EQ(open("rec", "atr"), 0);
    EXPECT_EQ(read_all(0).stop, -1);
    EXPECT_EQ(iannsettime(0), 0);  // the start of an empty list is still a position
    EXPECT_EQ(read_all(0).annotations.size(), 0u);
    mark_error_text();
    EXPECT_EQ(iannsettime(5), -1);
    EXPECT_EQ(error_text(), "iannsettime: no annotation at or after time 5\n");
}

// Times in a file with a resolution note are scaled to the frequency of the
// file's own record, whatever header the process read before.
TEST_F(AnnotationFileTest, ResolutionNoteScalesToTheRecordsOwnFrequency) {
    MitAnnotationWriter file;
    file.label("## time resolution: 720");
    for (long t : {-21L, 10L, 2000L, 5001L, 5002L, 20'000'000'000L}) file.add({.time = t});
    write("rec.atr", file.finish());
    write_header("rec", "rec 1 360 1000\nrec.dat 16 200 12 0 0 0 0 ECG\n");
    sigtrove::engine::record_state().frame_freq = 250;  // left by another record

    ASSERT_EQ(open("rec", "atr"), 0);
    std::vector<WFDB_Time> times;
    for (const Delivered &d : read_all(0).annotations) times.push_back(d.time);
    // Halves round upward: -10.5 gives -10.
    EXPECT_EQ(times, (std::vector<WFDB_Time>{-10, 5, 1000, 2501, 2501, 10'000'000'000L}));
    EXPECT_EQ(sigtrove::engine::record_state().frame_freq, 250);  // not the annotator's to change

    // A seek compares scaled times.
    ASSERT_EQ(iannsettime(2501), 0);
    EXPECT_EQ(read_all(0).annotations.size(), 3u);
}

TEST_F(AnnotationFileTest, HighResolutionModeCountsEverySampleOfAFrame) {
    write("rec.atr", MitAnnotationWriter().add({.time = 10}).finish());
    write("rec.res", MitAnnotationWriter().label("## time resolution: 100").add({.time = 10}).finish());
    write_header("rec", "rec 2 250 1000\nrec.dat 16x4 200 12 0 0 0 0 a\nrec.dat 16 200 12 0 0 0 0 b\n");
    sigtrove::engine::record_state().high_resolution = true;
    ASSERT_EQ(open("rec", {{"atr", WFDB_READ}, {"res", WFDB_READ}}), 0);
    WFDB_Annotation annotation{};
    ASSERT_EQ(getann(0, &annotation), 0);
    EXPECT_EQ(annotation.time, 40);  // frame 10, 4 samples per frame
    ASSERT_EQ(getann(1, &annotation), 0);
    EXPECT_EQ(annotation.time, 100);  // 10 ticks of 1/100 s at 1000 samples per second
}

TEST_F(AnnotationFileTest, WithoutAHeaderTimesAreUsedAsTheyAre) {
    write("rec.atr", MitAnnotationWriter().label("## time resolution: 720").add({.time = 2000}).finish());
    mark_error_text();
    ASSERT_EQ(open("rec", "atr"), 0);
    EXPECT_EQ(error_text(), "marker\n");  // a missing header is no error for an annotation file
    EXPECT_EQ(read_all(0).annotations.at(0).time, 2000);
}

// Every cut of a file ends reading with an error, after exactly the annotations
// that were complete: an annotation counts once the word after its modifiers is there.
TEST_F(AnnotationFileTest, MitFileCutAnywhereDeliversOnlyCompleteAnnotations) {
    MitAnnotationWriter file;
    file.add({.time = 3, .type = NORMAL, .aux = "odd"})
        .add({.time = 5000, .type = PVC, .subtyp = 2, .chan = 1, .num = 4})
        .add({.time = 5001, .type = NORMAL, .aux = "even"})
        .add({.time = 90000, .type = NOTE, .aux = std::string(255, 'x')});
    std::string full = file.finish();
    write("rec.full", full);
    ASSERT_EQ(open("rec", "full"), 0);
    std::vector<Delivered> complete = read_all(0).annotations;
    ASSERT_EQ(complete.size(), 4u);
    std::vector<size_t> needed = file.annotation_word_ends();  // annotation i needs the word of i + 1
    needed.erase(needed.begin());
    needed.push_back(full.size());

    for (size_t cut = 0; cut < full.size(); ++cut) {
        SCOPED_TRACE("cut at byte " + std::to_string(cut));
        write("rec.cut", full.substr(0, cut));
        ASSERT_EQ(open("rec", "cut"), 0);
        ReadOutcome read = read_all(0);
        size_t expected_count = 0;
        while (expected_count < needed.size() && needed[expected_count] <= cut) ++expected_count;
        EXPECT_EQ(read.stop, -3);
        EXPECT_EQ(error_text(), "getann: unexpected EOF in annotator cut\n");
        std::vector<Delivered> expected(complete.begin(), complete.begin() + expected_count);
        EXPECT_EQ(read.annotations, expected);
        WFDB_Annotation again{};
        mark_error_text();
        EXPECT_EQ(getann(0, &again), -3);  // and again, with the text recorded afresh
        EXPECT_EQ(error_text(), "getann: unexpected EOF in annotator cut\n");
    }
}

TEST_F(AnnotationFileTest, AhaFileCutAnywhereDeliversItsWholeRecords) {
    AhaAnnotationWriter file;
    file.add({.time = 18, .letter = 'O', .mit_code = RHYTHM, .text = bytes_of("(N\0", 3)})
        .add({.time = 77, .letter = 'N', .mit_code = NORMAL})
        .add({.time = 370, .letter = 'V', .mit_code = PVC});
    std::string full = file.finish();
    const size_t records = file.bytes().size();
    for (size_t cut = 0; cut <= records; ++cut) {
        SCOPED_TRACE("cut at byte " + std::to_string(cut));
        write("rec.cut", full.substr(0, cut));
        ASSERT_EQ(open("rec", "cut", WFDB_AHA_READ), 0);
        ReadOutcome read = read_all(0);
        EXPECT_EQ(read.stop, -3);
        EXPECT_EQ(error_text(), "getann: unexpected EOF in annotator cut\n");
        EXPECT_EQ(read.annotations.size(), cut / 16);
    }
    write("rec.cut", full.substr(0, records + 1));  // the first byte of the padding ends the file
    ASSERT_EQ(open("rec", "cut", WFDB_AHA_READ), 0);
    ReadOutcome read = read_all(0);
    EXPECT_EQ(read.stop, -1);
    EXPECT_EQ(read.annotations.size(), 3u);
}

TEST_F(AnnotationFileTest, EmptyFileOpensButRecordsItsEnd) {
    write("rec.atr", "");
    ASSERT_EQ(open("rec", "atr"), 0);
    EXPECT_EQ(error_text(), "getann: unexpected EOF in annotator atr\n");
    WFDB_Annotation annotation{};
    EXPECT_EQ(getann(0, &annotation), -3);
}

struct ScaleCase {
    double frame_frequency;
    int spf_max;
    bool high_resolution;
    double resolution;
    int64_t ticks;
    WFDB_Time samples;
    friend void PrintTo(const ScaleCase &c, std::ostream *out) {
        *out << c.ticks << " ticks at " << c.resolution << "/s, " << c.frame_frequency << " Hz x" << c.spf_max
             << (c.high_resolution ? " high" : " low");
    }
};

class TimeScale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(TimeScale, RoundsHalvesUpAndSaturates) {
    const ScaleCase &c = GetParam();
    auto scale =
        sigtrove::engine::AnnotationTimeScale::choose(c.frame_frequency, c.spf_max, c.high_resolution, c.resolution);
    EXPECT_EQ(scale.to_samples(c.ticks), c.samples);
}

INSTANTIATE_TEST_SUITE_P(Cases, TimeScale,
                         ::testing::Values(ScaleCase{360, 1, false, 720, 5001, 2501},  // 2500.5
                                           ScaleCase{360, 1, false, 720, -21, -10},    // -10.5
                                           ScaleCase{360, 1, false, 720, -22, -11},
                                           ScaleCase{360, 1, false, 0, 5001, 5001},  // no note: sample numbers already
                                           ScaleCase{0, 1, false, 720, 5001, 5001},  // no frequency: as stored
                                           ScaleCase{360, 4, false, 0, 7, 7},  // spf counts in high resolution only
                                           ScaleCase{360, 4, true, 0, 7, 28}, ScaleCase{360, 4, true, 720, 7, 14},
                                           ScaleCase{360, 1, false, 1e-320, 1, 1},  // a ratio beyond range: as stored
                                           ScaleCase{1e6, 1, false, 1, INT64_MAX / 2, INT64_MAX},
                                           ScaleCase{1e6, 1, false, 1, INT64_MIN / 2, INT64_MIN},
                                           ScaleCase{360, 1, false, 360, INT64_MAX, INT64_MAX}));  // exactly 1: exact

class LeadingModifier : public AnnotationFileTest, public ::testing::WithParamInterface<int> {};

TEST_P(LeadingModifier, IsRejectedInsteadOfDeliveredAsAnAnnotation) {
    MitAnnotationWriter file;
    file.word(GetParam(), 2).word(0, 0).add({.time = 10});
    write("rec.atr", file.finish());
    ASSERT_EQ(open("rec", "atr"), 0);
    EXPECT_EQ(error_text(), "getann: annotator atr has a modifier with no annotation before it\n");
    ReadOutcome read = read_all(0);
    EXPECT_EQ(read.stop, -3);
    EXPECT_TRUE(read.annotations.empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, LeadingModifier, ::testing::Values(60, 61, 62, 63));

TEST_F(AnnotationFileTest, AhaRecordsMapLettersAndKeepTheStoredCodeAsChannel) {
    AhaAnnotationWriter file;
    file.add({.time = 100, .letter = 'N', .mit_code = NORMAL})
        .add({.time = 200, .letter = 'U', .mit_code = NOISE})  // U with subtype 0: -1
        .add({.time = 300, .letter = 'U', .mit_code = NOISE, .subtyp = 3})
        .add({.time = 400, .letter = 'Z', .mit_code = 44, .subtyp = -2, .text = "abcdef"})
        .add({.time = 70000, .letter = '[', .mit_code = VFON, .text = "x"})
        .add({.time = 70001, .letter = 'R', .mit_code = RONT, .serial = 0});
    write("rec.aha", file.finish());

    mark_error_text();
    ASSERT_EQ(open("rec", "aha", WFDB_AHA_READ), 0);
    EXPECT_EQ(error_text(), "marker\n");
    ReadOutcome read = read_all(0);
    std::vector<Delivered> expected = {
        {100, NORMAL, 0, NORMAL, 0, {}},
        {200, NOISE, -1, NOISE, 0, {}},
        {300, NOISE, 3, NOISE, 0, {}},
        {400, NOTQRS, -2, 44, 0, "abcdef"},
        {70000, VFON, 0, VFON, 0, bytes_of("x\0\0\0\0\0", 6)},
        {70001, RONT, 0, RONT, 0, {}},  // delivered despite its serial number 0
    };
    EXPECT_EQ(read.annotations, expected);
    EXPECT_EQ(read.stop, -1);
    EXPECT_EQ(error_text(), "getann: unexpected annot number in annotator aha\n");
}

struct FormatCase {
    bool aha_file;
    int stat;
    const char *warning;  // null: no text
    friend void PrintTo(const FormatCase &c, std::ostream *out) {
        *out << (c.aha_file ? "AHA" : "MIT") << " file, stat " << c.stat;
    }
};

class FormatDetection : public AnnotationFileTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatDetection, TheFileDecidesAndAMismatchIsOneWarning) {
    const FormatCase &c = GetParam();
    std::string bytes = c.aha_file ? AhaAnnotationWriter().add({.time = 7, .letter = 'V', .mit_code = PVC}).finish()
                                   : MitAnnotationWriter().add({.time = 7, .type = PVC}).finish();
    write("rec.ann", bytes);
    mark_error_text();
    ASSERT_EQ(open("rec", "ann", c.stat), 0);
    EXPECT_EQ(error_text(), c.warning ? c.warning : "marker\n");
    ReadOutcome read = read_all(0);
    ASSERT_EQ(read.annotations.size(), 1u);
    EXPECT_EQ(read.annotations[0].time, 7);
    EXPECT_EQ(read.annotations[0].anntyp, PVC);
}

INSTANTIATE_TEST_SUITE_P(Cases, FormatDetection,
                         ::testing::Values(FormatCase{false, WFDB_READ, nullptr},
                                           FormatCase{true, WFDB_AHA_READ, nullptr},
                                           FormatCase{true, WFDB_READ,
                                                      "warning (annopen, annotator ann, record rec):\n"
                                                      " file appears to be in AHA format\n"
                                                      " ... continuing under that assumption\n"},
                                           FormatCase{false, WFDB_AHA_READ,
                                                      "warning (annopen, annotator ann, record rec):\n"
                                                      " file appears to be in MIT format\n"
                                                      " ... continuing under that assumption\n"}));

class AnnopenArguments : public AnnotationFileTest {
protected:
    AnnopenArguments() {
        write("rec.atr", MitAnnotationWriter().add({.time = 1}).finish());
        write("rec.qrs", MitAnnotationWriter().add({.time = 2}).finish());
    }
    static WFDB_Time first_time(WFDB_Annotator an) {
        WFDB_Annotation annotation{};
        return getann(an, &annotation) == 0 ? annotation.time : -1;
    }
};

TEST_F(AnnopenArguments, AnIllegalStatOpensNothingAndClosesWhatWasOpen) {
    ASSERT_EQ(open("rec", "atr"), 0);
    EXPECT_EQ(open("rec", {{"atr", WFDB_READ}, {"qrs", WFDB_WRITE}}), -5);
    EXPECT_EQ(error_text(), "annopen: illegal stat 1 for annotator qrs, record rec\n");
    WFDB_Annotation annotation{};
    EXPECT_EQ(getann(0, &annotation), -2);
    EXPECT_EQ(error_text(), "getann: can't read annotator 0\n");
}

TEST_F(AnnopenArguments, AMissingFileFailsAfterTheOnesBeforeItOpened) {
    EXPECT_EQ(open("rec", {{"atr", WFDB_READ}, {"nosuch", WFDB_READ}, {"qrs", WFDB_READ}}), -3);
    EXPECT_EQ(error_text(), "annopen: can't read annotator nosuch for record rec\n");
    EXPECT_EQ(sigtrove::engine::open_annotation_file_count(), 1u);
    EXPECT_EQ(first_time(0), 1);
    EXPECT_EQ(open("norec", "atr"), -3);  // and a failed open still closes what was open
    EXPECT_EQ(error_text(), "annopen: can't read annotator atr for record norec\n");
    EXPECT_EQ(sigtrove::engine::open_annotation_file_count(), 0u);
}

TEST_F(AnnopenArguments, APlusAddsToTheOpenFiles) {
    ASSERT_EQ(open("rec", "atr"), 0);
    ASSERT_EQ(open("+rec", "qrs"), 0);
    EXPECT_EQ(first_time(0), 1);
    EXPECT_EQ(first_time(1), 2);
    EXPECT_EQ(open("+rec", "nosuch"), -3);
    EXPECT_EQ(sigtrove::engine::open_annotation_file_count(), 2u);
    ASSERT_EQ(open("rec", "qrs"), 0);
    EXPECT_EQ(sigtrove::engine::open_annotation_file_count(), 1u);
    EXPECT_EQ(first_time(0), 2);
}

TEST_F(AnnopenArguments, AHeaderSuffixIsIgnoredWithoutTouchingTheCallersName) {
    char record[] = "rec.hea";
    char name[] = "atr";
    WFDB_Anninfo info{name, WFDB_READ};
    ASSERT_EQ(annopen(record, &info, 1), 0);
    EXPECT_STREQ(record, "rec.hea");
    EXPECT_EQ(first_time(0), 1);
}

TEST_F(AnnopenArguments, ALongAnnotatorNameFallsBackToItsFirstThreeCharacters) {
    ASSERT_EQ(open("rec", "atrx"), 0);
    EXPECT_EQ(first_time(0), 1);
}

TEST_F(AnnopenArguments, NoAnnotatorsClosesAndSucceeds) {
    ASSERT_EQ(open("rec", "atr"), 0);
    char record[] = "rec";
    EXPECT_EQ(annopen(record, nullptr, 0), 0);
    EXPECT_EQ(sigtrove::engine::open_annotation_file_count(), 0u);
    EXPECT_EQ(getann(0, nullptr), -2);
}

class AnnotationSeek : public AnnotationFileTest {
protected:
    AnnotationSeek() {
        MitAnnotationWriter file;
        file.add({.time = -50, .type = NOTE, .aux = "before the start"});
        for (long t : {100L, 200L, 300L, 400L}) file.add({.time = t, .type = NORMAL});
        write("rec.atr", file.finish());
        EXPECT_EQ(open("rec", "atr"), 0);
    }
    static std::vector<WFDB_Time> times_from_here() {
        std::vector<WFDB_Time> times;
        for (const Delivered &d : read_all(0).annotations) times.push_back(d.time);
        return times;
    }
};

TEST_F(AnnotationSeek, ForwardBackwardAndByMagnitude) {
    ASSERT_EQ(iannsettime(250), 0);
    EXPECT_EQ(times_from_here(), (std::vector<WFDB_Time>{300, 400}));
    ASSERT_EQ(iannsettime(200), 0);  // behind the position: from the start again
    EXPECT_EQ(times_from_here(), (std::vector<WFDB_Time>{200, 300, 400}));
    ASSERT_EQ(iannsettime(-150), 0);  // a negative time stands for its magnitude
    EXPECT_EQ(times_from_here(), (std::vector<WFDB_Time>{200, 300, 400}));
    ASSERT_EQ(iannsettime(0), 0);
    EXPECT_EQ(times_from_here(), (std::vector<WFDB_Time>{100, 200, 300, 400}));
    ASSERT_EQ(iannsettime(LONG_MIN), 0);  // the very first annotation, even before time 0
    EXPECT_EQ(times_from_here(), (std::vector<WFDB_Time>{-50, 100, 200, 300, 400}));
}

TEST_F(AnnotationSeek, AfterEverythingWasReadASeekStartsOver) {
    times_from_here();
    ASSERT_EQ(iannsettime(300), 0);
    EXPECT_EQ(times_from_here(), (std::vector<WFDB_Time>{300, 400}));
}

TEST_F(AnnotationSeek, PastTheLastAnnotationFailsWithItsOwnText) {
    mark_error_text();
    EXPECT_EQ(iannsettime(401), -1);
    EXPECT_EQ(error_text(), "iannsettime: no annotation at or after time 401\n");
    WFDB_Annotation annotation{};
    EXPECT_EQ(getann(0, &annotation), -1);
}

TEST_F(AnnotationSeek, SucceedsWhenAnyAnnotatorHasAnAnnotationThere) {
    write("rec.qrs", MitAnnotationWriter().add({.time = 1000}).finish());
    ASSERT_EQ(open("+rec", "qrs"), 0);
    ASSERT_EQ(iannsettime(500), 0);
    WFDB_Annotation annotation{};
    EXPECT_EQ(getann(0, &annotation), -1);
    ASSERT_EQ(getann(1, &annotation), 0);
    EXPECT_EQ(annotation.time, 1000);
}

TEST_F(AnnotationSeek, WithNothingOpenFailsWithItsOwnText) {
    sigtrove::engine::close_annotation_files();
    mark_error_text();
    EXPECT_EQ(iannsettime(100), -1);
    EXPECT_EQ(error_text(), "iannsettime: no annotator is open\n");
}

TEST_F(AnnotationSeek, ACutFileReportsItsEndWhenTheSeekReachesIt) {
    std::string bytes = MitAnnotationWriter().add({.time = 10}).add({.time = 20}).add({.time = 30}).bytes();
    write("rec.cut", bytes);  // no end mark: the last annotation is never complete
    ASSERT_EQ(open("rec", "cut"), 0);
    mark_error_text();
    EXPECT_EQ(iannsettime(25), -1);
    EXPECT_EQ(error_text(), "getann: unexpected EOF in annotator cut\n");
    ASSERT_EQ(iannsettime(15), 0);
    EXPECT_EQ(times_from_here(), (std::vector<WFDB_Time>{20}));
}

// A file larger than the reading buffer, with texts of every length so that
// annotations straddle the buffer's edges; seeks in both directions.
TEST_F(AnnotationFileTest, LargeFilesReadAndSeekAcrossTheBuffer) {
    MitAnnotationWriter file;
    std::vector<Delivered> expected;
    for (int i = 0; i < 20000; ++i) {
        // Every seventh interval needs a SKIP.
        MitEntry entry{.time = 3L * i + 5000L * (i / 7), .type = 1 + i % 40, .chan = i % 3};
        if (i % 5 == 0) {
            entry.aux = std::string(static_cast<size_t>(i % 256), static_cast<char>('a' + i % 26));
        }
        file.add(entry);
        expected.push_back({entry.time, entry.type, 0, entry.chan, 0, entry.aux});
    }
    write("big.atr", file.finish());
    ASSERT_GT(file.bytes().size(), 200'000u);
    ASSERT_EQ(open("big", "atr"), 0);
    ASSERT_EQ(read_all(0).annotations, expected);

    for (size_t index : {15000u, 10u, 19999u, 5000u, 5001u}) {
        ASSERT_EQ(iannsettime(expected[index].time - 1), 0);
        WFDB_Annotation annotation{};
        ASSERT_EQ(getann(0, &annotation), 0);
        EXPECT_EQ(sigtrove::testing::capture(annotation), expected[index]) << "seek before annotation " << index;
    }
}

}  // namespace
