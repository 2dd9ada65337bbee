// The companion editor's version check: what the readme page states, read as
// the C library reads a number, against the single-precision minimum 4.2.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "app/texts.h"
#include "common/test_machine.h"
#include "support/editor_check.h"

namespace {

constexpr char kReadme[] = "c:\\zentaq\\res\\utilities\\readme.html";

class EditorCheckTest : public ::testing::Test {
 protected:
  EditorCheckTest() : machine_("xp") { machine_.Use(); }

  // True when checking a page with `page` as its contents shows the warning.
  bool Warns(const std::string& page) {
    machine_.Write(kReadme, page);
    size_t before = machine_.JournalLines("MessageBox").size();
    machine_.Answer({"ok"});  // an answer no box takes stays queued, harmlessly
    CheckEditorVersion(4.2f);
    return machine_.JournalLines("MessageBox").size() > before;
  }

  TestMachine machine_;
};

TEST_F(EditorCheckTest, VersionsFromTheMinimumOnPass) {
  EXPECT_FALSE(Warns("<p>This is version 4.2 of Markalon.</p>"));
  EXPECT_FALSE(Warns("<p>This is version 4.5</p>"));
  EXPECT_FALSE(Warns("This is version 4.2.1"));
  EXPECT_FALSE(Warns("This is version 10"));
  EXPECT_FALSE(Warns("this is version    \t4.3"));
  EXPECT_FALSE(Warns("this is version \r\n4.3"));
  EXPECT_FALSE(Warns("this is version 42e-1"));
  EXPECT_FALSE(Warns("this is version 0.420e1"));  // digits after the point, a 0 among them
  EXPECT_FALSE(Warns("this is version 0.5e01"));  // an exponent that begins with 0
  EXPECT_FALSE(Warns("this is version 0.5e9"));
  EXPECT_FALSE(Warns("this is version 4.19999980926513671875"));  // the single-precision 4.2 itself
  EXPECT_FALSE(Warns("This is version +4.5"));
  EXPECT_FALSE(Warns("This is version 9"));  // every digit counts
  EXPECT_FALSE(Warns("This is version 4.9"));
  EXPECT_FALSE(Warns("This is version 5.0"));
}

TEST_F(EditorCheckTest, OlderVersionsAndNonNumbersWarn) {
  EXPECT_TRUE(Warns("This is version 4.19"));
  EXPECT_TRUE(Warns("This is version 4.1999998"));  // just below the single-precision 4.2
  EXPECT_TRUE(Warns("This is version 4.1"));
  EXPECT_TRUE(Warns("This is version 4,5"));  // the point is the only decimal separator
  EXPECT_TRUE(Warns("This is version beta"));
  EXPECT_TRUE(Warns("This is version -5"));
  EXPECT_TRUE(Warns("This is version 42e-10"));  // every digit of the exponent counts
  EXPECT_TRUE(Warns("This is version 42e-19"));
  // Forms the Windows runtime doesn't read as numbers give 0 as well.
  EXPECT_TRUE(Warns("This is version 0x10"));
  EXPECT_TRUE(Warns("This is version infinity"));
  EXPECT_TRUE(Warns("This is version "));
  EXPECT_TRUE(Warns("<p>A page cut short: this is version "));  // nothing may be read past its end
}

TEST_F(EditorCheckTest, ThePhraseIsMatchedInAnyCaseAndOnlyItsFirstOccurrenceCounts) {
  EXPECT_TRUE(Warns("THIS IS VERSION 3.0"));
  EXPECT_TRUE(Warns("tHiS iS vErSiOn 4.0"));
  EXPECT_FALSE(Warns("this is version 4.5; older pages said this is version 1.0"));
  EXPECT_TRUE(Warns("this is version 1.0; this is version 4.5"));
}

TEST_F(EditorCheckTest, NoPhraseNoMessage) {
  EXPECT_FALSE(Warns("This is version4.0"));  // without its blank
  EXPECT_FALSE(Warns("This is the version 1.0"));
  EXPECT_FALSE(Warns(std::string("<html>\0 This is version 1.0", 27)));  // a zero byte ends the text
  EXPECT_TRUE(Warns(std::string("This is version 1.0\0 trailing", 29)));
  EXPECT_FALSE(Warns(""));
  machine_.Remove(kReadme);
  size_t before = machine_.JournalLines("MessageBox").size();
  CheckEditorVersion(4.2f);
  EXPECT_EQ(machine_.JournalLines("MessageBox").size(), before);
}

// A page of 2 GB can't be held with its closing zero byte by the 32-bit
// program: no check, as for a page that can't be read.
TEST_F(EditorCheckTest, APageTooLargeForOneBufferIsNotChecked) {
  machine_.Write(kReadme, "This is version 1.0");
  ASSERT_EQ(truncate(machine_.Host(kReadme).c_str(), 0x7FFFFFFFLL), 0);  // sparse
  size_t before = machine_.JournalLines("MessageBox").size();
  CheckEditorVersion(4.2f);
  EXPECT_EQ(machine_.JournalLines("MessageBox").size(), before);
}

TEST_F(EditorCheckTest, TheWarningNamesTheProductsWebAddress) {
  ASSERT_TRUE(Warns("This is version 4.0"));
  std::string text = std::string(texts::kEditorOutdatedBefore) + "http://www.zentaq.com. Please upgrade.";
  EXPECT_EQ(machine_.JournalLines("MessageBox").back(), "MessageBox\tsetup\t0x0\t" + text + "\t1");
}

}  // namespace
