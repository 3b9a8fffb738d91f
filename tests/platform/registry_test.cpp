#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/xdgsandbox.h"

namespace {

using namespace platform;
using Mode = RegistryHive::Mode;

class RegistryTest : public XdgSandbox {};

std::vector<std::string> Enumerate(const RegistryKey& key) {
    std::vector<std::string> names;
    char name[kRegistryBufferBytes];
    for (uint32_t i = 0; key.EnumKey(i, name, sizeof name); ++i) {
        names.emplace_back(name);
    }
    return names;
}

std::string Query(const RegistryKey& key, const char* value) {
    char buffer[kRegistryBufferBytes] = {};
    return key.QueryString(value, buffer, sizeof buffer) ? std::string(buffer) : "<none>";
}

TEST_F(RegistryTest, MissingRootsBehaveLikeMissingKeysAndTheMachineRootIsNeverCreated) {
    const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
    EXPECT_FALSE(user.IsOpen());
    RegistryKey key;
    EXPECT_FALSE(user.OpenKey("Software", key));
    EXPECT_FALSE(user.DeleteTree("Software"));
    EXPECT_FALSE(std::filesystem::exists(UserFile()));

    const RegistryHive machine(RegistryRoot::MachineWide, Mode::CreateIfMissing);
    EXPECT_FALSE(machine.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(MachineFile()).parent_path()));

    // The first folder of the list is the machine root, under a sonvex folder.
    EXPECT_EQ(MachineFile(), (m_dir / "etc" / "sonvex" / "registry.db").string());
    EXPECT_EQ(UserFile(), (m_dir / "home" / "sonvex" / "registry.db").string());
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirOwn) {
    const RegistryHive user(RegistryRoot::CurrentUser, Mode::CreateIfMissing);
    ASSERT_TRUE(user.IsOpen());
    RegistryKey demo;
    ASSERT_TRUE(user.CreateKey("Software\\Demo", demo));
    ASSERT_TRUE(demo.SetString("FileCount", "3"));

    RegistryKey found;
    ASSERT_TRUE(user.OpenKey("SOFTWARE\\demo", found));
    EXPECT_EQ(Query(found, "filecount"), "3");
    EXPECT_TRUE(found.SetString("FILECOUNT", "4"));  // replaces, does not add
    EXPECT_EQ(Query(demo, "FileCount"), "4");

    RegistryKey again;
    ASSERT_TRUE(user.CreateKey("software\\DEMO", again));  // opens the existing key
    RegistryKey software;
    ASSERT_TRUE(user.OpenKey("software", software));
    EXPECT_EQ(Enumerate(software), std::vector<std::string>{"Demo"});
}

TEST_F(RegistryTest, EnumerationIsSortedWithoutCaseAndStopsAtTheEnd) {
    const RegistryHive user(RegistryRoot::CurrentUser, Mode::CreateIfMissing);
    RegistryKey base;
    ASSERT_TRUE(user.CreateKey("Base", base));
    for (const char* name : {"b", "File2", "A", "c", "File10"}) {
        RegistryKey child;
        ASSERT_TRUE(base.CreateSubKey(name, child));
    }
    EXPECT_EQ(Enumerate(base), (std::vector<std::string>{"A", "b", "c", "File10", "File2"}));
    char name[kRegistryBufferBytes];
    EXPECT_FALSE(base.EnumKey(5, name, sizeof name));
    char small[6];
    EXPECT_FALSE(base.EnumKey(3, small, sizeof small));  // "File10" needs 7 bytes
    EXPECT_TRUE(base.EnumKey(4, small, sizeof small));
    EXPECT_STREQ(small, "File2");
}

TEST_F(RegistryTest, PathsWithEmptyOrOverlongNamesAreRefused) {
    const RegistryHive user(RegistryRoot::CurrentUser, Mode::CreateIfMissing);
    RegistryKey key;
    for (const char* bad : {"\\a", "a\\", "a\\\\b", "\\"}) {
        EXPECT_FALSE(user.CreateKey(bad, key)) << bad;
    }
    EXPECT_FALSE(user.CreateKey("ok\\" + std::string(256, 'x'), key));
    RegistryKey ok;
    EXPECT_FALSE(user.OpenKey("ok", ok));  // the refused path left no parent behind
    EXPECT_TRUE(user.CreateKey("ok\\" + std::string(255, 'x'), key));
    EXPECT_FALSE(user.DeleteTree(""));  // never the root itself
}

class ValueLengthTest : public RegistryTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(ValueLengthTest, AValueMustFitTheBufferWithItsNul) {
    const size_t length = GetParam();
    const RegistryHive user(RegistryRoot::CurrentUser, Mode::CreateIfMissing);
    RegistryKey key;
    ASSERT_TRUE(user.CreateKey("K", key));
    ASSERT_TRUE(key.SetString("V", std::string(length, 'v')));
    char buffer[kRegistryBufferBytes];
    std::memset(buffer, '#', sizeof buffer);
    const bool fits = length + 1 <= sizeof buffer;
    EXPECT_EQ(key.QueryString("V", buffer, sizeof buffer), fits);
    if (fits) {
        EXPECT_EQ(std::string(buffer), std::string(length, 'v'));
    } else {
        EXPECT_EQ(buffer[0], '#');  // untouched
    }
}

INSTANTIATE_TEST_SUITE_P(AroundTheLimit, ValueLengthTest,
                         ::testing::Values(0, 258, 259, 260, 261, 5000));

TEST_F(RegistryTest, DeleteTreeTakesEverythingBelowAndLeavesSiblings) {
    const RegistryHive user(RegistryRoot::CurrentUser, Mode::CreateIfMissing);
    RegistryKey deep;
    ASSERT_TRUE(user.CreateKey("P\\A\\B\\C", deep));
    ASSERT_TRUE(deep.SetString("v", "1"));
    RegistryKey sibling;
    ASSERT_TRUE(user.CreateKey("P\\Z", sibling));

    EXPECT_TRUE(user.DeleteTree("p\\a"));
    RegistryKey gone;
    EXPECT_FALSE(user.OpenKey("P\\A", gone));
    EXPECT_FALSE(deep.SetString("v", "2"));  // a handle to a deleted key fails
    RegistryKey p;
    ASSERT_TRUE(user.OpenKey("P", p));
    EXPECT_EQ(Enumerate(p), std::vector<std::string>{"Z"});
    EXPECT_FALSE(user.DeleteTree("P\\A"));

    // A fresh key of the same name starts empty.
    RegistryKey fresh;
    ASSERT_TRUE(user.CreateKey("P\\A\\B\\C", fresh));
    EXPECT_EQ(Query(fresh, "v"), "<none>");
}

TEST_F(RegistryTest, CopyTreeCopiesValuesAndSubkeysAcrossRootsAndIntoItself) {
    MakeMachineRoot();
    const RegistryHive machine(RegistryRoot::MachineWide, Mode::OpenExisting);
    ASSERT_TRUE(machine.IsOpen());
    RegistryKey src;
    ASSERT_TRUE(machine.CreateKey("S\\List", src));
    ASSERT_TRUE(src.SetString("Top", "t"));
    RegistryKey child;
    ASSERT_TRUE(src.CreateSubKey("Files\\File1", child));
    ASSERT_TRUE(child.SetString("Name", "a.mp3"));

    const RegistryHive user(RegistryRoot::CurrentUser, Mode::CreateIfMissing);
    RegistryKey dest;
    ASSERT_TRUE(user.CreateKey("D\\List", dest));
    ASSERT_TRUE(dest.SetString("top", "old"));
    RegistryKey s;
    ASSERT_TRUE(machine.OpenKey("S", s));
    ASSERT_TRUE(s.CopyTree("list", dest));
    EXPECT_EQ(Query(dest, "Top"), "t");
    RegistryKey copied;
    ASSERT_TRUE(user.OpenKey("D\\List\\Files\\File1", copied));
    EXPECT_EQ(Query(copied, "Name"), "a.mp3");
    RegistryKey stillThere;
    EXPECT_TRUE(machine.OpenKey("S\\List\\Files\\File1", stillThere));

    // Copying a key below itself copies what was there, once.
    RegistryKey inner;
    ASSERT_TRUE(user.CreateKey("D\\List\\Inner", inner));
    RegistryKey d;
    ASSERT_TRUE(user.OpenKey("D", d));
    ASSERT_TRUE(d.CopyTree("List", inner));
    RegistryKey nested;
    EXPECT_TRUE(user.OpenKey("D\\List\\Inner\\Files\\File1", nested));
    EXPECT_TRUE(user.OpenKey("D\\List\\Inner\\Inner", nested));
    EXPECT_FALSE(user.OpenKey("D\\List\\Inner\\Inner\\Inner", nested));

    EXPECT_FALSE(s.CopyTree("missing", dest));
}

TEST_F(RegistryTest, TransactionsRollBackUnlessCommitted) {
    const RegistryHive user(RegistryRoot::CurrentUser, Mode::CreateIfMissing);
    RegistryKey key;
    ASSERT_TRUE(user.CreateKey("T", key));
    ASSERT_TRUE(key.SetString("v", "old"));
    {
        RegistryTransaction tx(user, RegistryTransaction::Kind::Write);
        ASSERT_TRUE(tx.IsActive());
        RegistryTransaction nested(user, RegistryTransaction::Kind::Write);
        EXPECT_FALSE(nested.IsActive());
        EXPECT_FALSE(nested.Commit());
        ASSERT_TRUE(key.SetString("v", "new"));
        RegistryKey sub;
        ASSERT_TRUE(user.CreateKey("T\\Sub", sub));
        EXPECT_TRUE(user.DeleteTree("T\\Sub"));
        ASSERT_TRUE(user.CreateKey("T\\Other", sub));
    }
    EXPECT_EQ(Query(key, "v"), "old");
    RegistryKey other;
    EXPECT_FALSE(user.OpenKey("T\\Other", other));
    {
        RegistryTransaction tx(user, RegistryTransaction::Kind::Write);
        ASSERT_TRUE(key.SetString("v", "new"));
        EXPECT_TRUE(tx.Commit());
        EXPECT_FALSE(tx.Commit());
    }
    const RegistryHive reopened(RegistryRoot::CurrentUser, Mode::OpenExisting);
    RegistryKey again;
    ASSERT_TRUE(reopened.OpenKey("t", again));
    EXPECT_EQ(Query(again, "v"), "new");
}

TEST_F(RegistryTest, GarbageUserFileIsMovedAsideAndAnEmptyTreeStarts) {
    const std::string garbage(3000, 'G');
    WriteBytes(UserFile(), garbage);
    {
        const RegistryHive user(RegistryRoot::CurrentUser, Mode::CreateIfMissing);
        ASSERT_TRUE(user.IsOpen());
        RegistryKey key;
        EXPECT_FALSE(user.OpenKey("Software", key));
        ASSERT_TRUE(user.CreateKey("Software\\New", key));
    }
    const auto aside = QuarantinedFiles();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadBytes(aside[0]), garbage);
    const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
    RegistryKey key;
    EXPECT_TRUE(user.OpenKey("software\\new", key));
}

TEST_F(RegistryTest, TruncatedUserFileIsMovedAsideWhenOnlyOpened) {
    {
        const RegistryHive user(RegistryRoot::CurrentUser, Mode::CreateIfMissing);
        RegistryTransaction tx(user, RegistryTransaction::Kind::Write);
        for (int i = 0; i < 400; ++i) {
            RegistryKey key;
            ASSERT_TRUE(user.CreateKey("Big\\Key" + std::to_string(i), key));
            ASSERT_TRUE(key.SetString("Value", std::string(200, 'x')));
        }
        ASSERT_TRUE(tx.Commit());
    }
    const std::string whole = ReadBytes(UserFile());
    ASSERT_GT(whole.size(), 20000u);
    const std::string half = whole.substr(0, whole.size() / 2);
    WriteBytes(UserFile(), half);

    const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
    EXPECT_FALSE(user.IsOpen());  // nothing left to open: behaves like a missing root
    const auto aside = QuarantinedFiles();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadBytes(aside[0]), half);
    EXPECT_FALSE(std::filesystem::exists(UserFile()));
}

}  // namespace
