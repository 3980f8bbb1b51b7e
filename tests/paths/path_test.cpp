#include "paths/path.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "paths/path_helpers.h"

namespace {

using paths::CPath;
using paths::CPathInformation;
using paths::CPathInformationArray;

TEST(CPathParsing, AbsolutePathSplitsIntoDriveAndComponentsAndFormatsBack) {
  CPath path(u"C:\\Docs\\a.txt", false);
  ASSERT_EQ(path.GetComponentCount(), 3u);
  EXPECT_EQ(path.GetComponent(0), u"C:");
  EXPECT_EQ(path.GetComponent(1), u"Docs");
  EXPECT_EQ(path.GetComponent(2), u"a.txt");
  EXPECT_FALSE(path.IsRelative());
  EXPECT_TRUE(path.IsValid());
  EXPECT_EQ(path.GetPath(), u"C:\\Docs\\a.txt");
  EXPECT_EQ(path.GetParentPath(), u"C:\\Docs");
  EXPECT_EQ(path.GetFileName(), u"a.txt");
}

TEST(CPathParsing, RelativePathGetsDotPrefixOnce) {
  CPath path(u"Docs\\a.txt", false);
  EXPECT_TRUE(path.IsRelative());
  EXPECT_EQ(path.GetPath(), u".\\Docs\\a.txt");
  // What GetPath produced parses back to the same text.
  CPath again(path.GetPath(), false);
  EXPECT_EQ(again.GetPath(), u".\\Docs\\a.txt");
}

TEST(CPathParsing, TrailingBackslashAddsNoEmptyComponent) {
  CPath path(u"C:\\Docs\\", true);
  EXPECT_EQ(path.GetComponentCount(), 2u);
  EXPECT_TRUE(path.HasTrailingSeparator());
  EXPECT_EQ(path.GetPath(), u"C:\\Docs");
}

TEST(CPathParsing, DriveAloneFormatsAsItsRoot) {
  CPath path(u"C:\\", true);
  EXPECT_EQ(path.GetComponentCount(), 1u);
  EXPECT_EQ(path.GetPath(), u"C:\\");
  EXPECT_EQ(CPath(u"C:\\a.txt", false).GetParentPath(), u"C:\\");
}

TEST(CPathParsing, InvalidCharactersAreKeptButClearValid) {
  CPath path(u"C:\\Do?cs\\a.txt", false);
  EXPECT_FALSE(path.IsValid());
  EXPECT_EQ(path.GetComponent(1), u"Do?cs");
  // A colon anywhere but in a drive element is invalid too.
  EXPECT_FALSE(CPath(u"abc:\\x", false).IsValid());
  EXPECT_TRUE(CPath(u"abc:\\x", false).IsRelative());
}

TEST(CPathParsing, EmptyTextFailsAndReadingAMissingComponentThrows) {
  CPath path(u"C:\\x", false);
  EXPECT_FALSE(path.SetPath(u"", true));
  EXPECT_EQ(path.GetComponentCount(), 0u);
  EXPECT_EQ(path.GetPath(), u"");
  EXPECT_EQ(path.GetFileName(), u"");
  EXPECT_THROW(path.GetComponent(0), CPath::CReferException);
}

TEST(CPathEditing, AppendNeedsAFolderAndARelativePath) {
  CPath folder(u"C:\\Out", true);
  EXPECT_TRUE(folder.Append(CPath(u".\\Docs\\a.txt", false)));
  EXPECT_EQ(folder.GetPath(), u"C:\\Out\\Docs\\a.txt");
  EXPECT_FALSE(folder.HasTrailingSeparator());
  // Now a file path: appending again fails.
  EXPECT_FALSE(folder.Append(CPath(u"b.txt", false)));

  CPath other(u"C:\\Out", true);
  EXPECT_FALSE(other.Append(CPath(u"D:\\x", false)));
  EXPECT_EQ(other.GetPath(), u"C:\\Out");
}

TEST(CPathEditing, IsChildOfComparesComponentsIgnoringCase) {
  CPath parent(u"C:\\Docs", true);
  EXPECT_TRUE(CPath(u"c:\\DOCS\\a.txt", false).IsChildOf(parent));
  EXPECT_FALSE(CPath(u"C:\\Docs\\sub\\a.txt", false).IsChildOf(parent));
  EXPECT_FALSE(CPath(u"C:\\Other\\a.txt", false).IsChildOf(parent));
  EXPECT_FALSE(CPath(u"C:\\Docs\\a.txt", false).IsChildOf(CPath(u"C:\\Docs", false)));
}

TEST(CPathEditing, ChangeExtensionReplacesOrAppends) {
  CPath a(u"Z:\\b\\backup.qpx", false);
  ASSERT_TRUE(a.ChangeExtension(u"qpm"));
  EXPECT_EQ(a.GetPath(), u"Z:\\b\\backup.qpm");
  CPath b(u"Z:\\b\\backup", false);
  ASSERT_TRUE(b.ChangeExtension(u"qpm"));
  EXPECT_EQ(b.GetFileName(), u"backup.qpm");
  CPath c(u"Z:\\b.d\\backup.qpx", false);
  ASSERT_TRUE(c.ChangeExtension(u".qpm"));
  EXPECT_EQ(c.GetPath(), u"Z:\\b.d\\backup.qpm");
  CPath empty;
  EXPECT_FALSE(empty.ChangeExtension(u"qpm"));
}

TEST(CPathEditing, RemoveComponentAndClear) {
  CPath path(u"C:\\Docs\\a.txt", true);
  EXPECT_FALSE(path.RemoveComponent(3));
  EXPECT_TRUE(path.RemoveComponent(0));
  EXPECT_TRUE(path.IsRelative());
  EXPECT_EQ(path.GetPath(), u".\\Docs\\a.txt");
  path.Clear();
  EXPECT_FALSE(path.IsRelative());
  EXPECT_FALSE(path.HasTrailingSeparator());
  EXPECT_EQ(path.GetComponentCount(), 0u);
}

TEST(PathHelpers, JoinAndIsBelow) {
  EXPECT_EQ(paths::Join(u"C:\\", u"a.txt"), u"C:\\a.txt");
  EXPECT_EQ(paths::Join(u"C:\\Docs", u"a.txt"), u"C:\\Docs\\a.txt");
  EXPECT_TRUE(paths::IsBelow(u"C:\\Docs", u"c:\\docs\\x"));
  EXPECT_FALSE(paths::IsBelow(u"C:\\Docs", u"C:\\Docs2\\x"));
}

TEST(PathInformation, FileKindMatchesOnlyTheExactPathIgnoringCase) {
  CPathInformationArray list;
  list.Add(u"C:\\Docs\\a.txt", CPathInformation::kFile);
  EXPECT_EQ(list.FindMatch(u"c:\\DOCS\\A.TXT"), 0);
  EXPECT_FALSE(list.Matches(u"C:\\Docs\\a.txt2"));
  EXPECT_FALSE(list.Matches(u"C:\\Docs\\a.txt\\b"));
  EXPECT_FALSE(list.Matches(u"C:\\Docs"));
}

TEST(PathInformation, FolderKindMatchesEverythingBelowButNotSiblings) {
  CPathInformationArray list;
  list.Add(u"C:\\Docs", CPathInformation::kFolder);
  list.Add(u"D:\\Root\\", CPathInformation::kFolder);
  EXPECT_TRUE(list.Matches(u"c:\\docs\\x"));
  EXPECT_TRUE(list.Matches(u"C:\\Docs\\deep\\er\\y.txt"));
  EXPECT_FALSE(list.Matches(u"C:\\Docs2\\x"));
  EXPECT_FALSE(list.Matches(u"C:\\Docs"));
  EXPECT_EQ(list.FindMatch(u"d:\\root\\z"), 1);
  // Non-ASCII letters fold too.
  list.Add(u"C:\\ÄRGER", CPathInformation::kFolder);
  EXPECT_EQ(list.FindMatch(u"c:\\ärger\\datei"), 2);
}

TEST(PathInformation, FirstMatchInOrderDecides) {
  CPathInformationArray list;
  list.Add(u"C:\\A\\B\\f.txt", CPathInformation::kFile);
  list.Add(u"C:\\A\\B", CPathInformation::kFolder);
  list.Add(u"C:\\A", CPathInformation::kFolder);
  list.Add(u"C:\\A\\B\\f.txt", CPathInformation::kFile);
  EXPECT_EQ(list.FindMatch(u"C:\\A\\B\\f.txt"), 0);
  EXPECT_EQ(list.FindMatch(u"C:\\A\\B\\g.txt"), 1);
  EXPECT_EQ(list.FindMatch(u"C:\\A\\x"), 2);
  EXPECT_TRUE(list.RemoveAt(0));
  EXPECT_EQ(list.FindMatch(u"C:\\A\\B\\f.txt"), 0);
  EXPECT_FALSE(list.RemoveAt(9));
  EXPECT_THROW(list.GetAt(3), std::invalid_argument);
  list.Clear();
  EXPECT_FALSE(list.Matches(u"C:\\A\\x"));
}

TEST(PathInformation, UnknownKindNeverMatches) {
  CPathInformationArray list;
  list.Add(u"C:\\A", 7);
  EXPECT_FALSE(list.Matches(u"C:\\A"));
  EXPECT_FALSE(list.Matches(u"C:\\A\\b"));
  EXPECT_EQ(list.GetAt(0).kind, 7);
}

}  // namespace
