#include "h2mon/common/stdtpl.h"
#include "tests/h2mon/common/capture.h"
#include "tests/h2mon/common/failing_allocation.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <string>
#include <vector>

namespace {

using Store = KVSTORE<KVAL>;

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

TEST(KvStore, FindsEveryEntryInAnyCaseHoweverManyShareABucket) {
    // Far more names than buckets, with shared leading letters, single letters
    // and bytes beyond ASCII, so that every bucket holds a chain.
    std::vector<std::string> names = {"port", "baud", "interval_ms", "tty",      "fmt",
                                      "out",  "p",    "po",          "\xff\xfe", "\xe9t\xe9"};
    for (int i = 0; i < 200; ++i) {
        names.push_back(std::string(1, static_cast<char>('a' + i % 26)) + "x" + std::to_string(i));
    }
    Store store;
    std::vector<KVAL*> entries;
    for (const std::string& name : names) {
        entries.push_back(store.addstr(name.c_str(), nullptr, "v", 0, 0));
        ASSERT_NE(entries.back(), nullptr) << name;
        EXPECT_LT(kv_bucket(name.c_str()), static_cast<unsigned>(kKvBuckets)) << name;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(store.find(names[i].c_str()), entries[i]) << names[i];
        EXPECT_EQ(store.find(upper(names[i]).c_str()), entries[i]) << names[i];
    }
    // Removing every other entry leaves its neighbours in the chains findable.
    for (std::size_t i = 0; i < names.size(); i += 2) {
        store.remove(entries[i]);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(store.find(names[i].c_str()), i % 2 == 0 ? nullptr : entries[i]) << names[i];
    }
    EXPECT_EQ(store.find("portx"), nullptr);
    EXPECT_EQ(store.find(""), nullptr);
}

TEST(KvStore, FindsByNameWithoutRegardToCaseThroughSharedBuckets) {
    Store store;
    KVAL* port = store.addstr("port", nullptr, "COM1", 0, 0);
    KVAL* tty = store.addbool("tty", nullptr, "0", 0, 0);
    ASSERT_NE(port, nullptr);
    ASSERT_NE(tty, nullptr);
    EXPECT_EQ(store.find("PORT"), port);
    EXPECT_EQ(store.find("Port"), port);
    EXPECT_EQ(store.find("TtY"), tty);
    EXPECT_EQ(store.find("baud"), nullptr);
    EXPECT_EQ(store.find("por"), nullptr);
    EXPECT_EQ(store.find(nullptr), nullptr);
    EXPECT_FALSE(store.given("baud"));
    EXPECT_FALSE(store.given("port"));
    port->dwUser |= KVU_GIVEN;
    EXPECT_TRUE(store.given("PORT"));
}

TEST(KvStore, PresentNameIsRefusedUnlessNoDupThenNewestWins) {
    Store store;
    int first = 1;
    KVAL* original = store.addnum("baud", &first, nullptr, 0, 0);
    struct {
        const char* operation;
        KVAL* (*add)(Store&);
    } adds[] = {
        {"addbool", [](Store& s) { return s.addbool("BAUD", nullptr, "1", 0, 0); }},
        {"addnum", [](Store& s) { return s.addnum("BAUD", nullptr, "2", 0, 0); }},
        {"addstr", [](Store& s) { return s.addstr("BAUD", nullptr, "3", 0, 0); }},
    };
    for (const auto& a : adds) {
        KVAL* added = reinterpret_cast<KVAL*>(1);
        EXPECT_EQ(stdout_of([&] { added = a.add(store); }),
                  std::string("KVAL error: ") + a.operation + "(BAUD) already present\n");
        EXPECT_EQ(added, nullptr);
        EXPECT_EQ(std::string(store.szLastError),
                  std::string("KVAL error: ") + a.operation + "(BAUD) already present");
    }
    EXPECT_EQ(store.size(), 1);
    EXPECT_STREQ(original->value(), "1");

    KVAL* newer = store.addnum("baud", nullptr, "19200", 0, KVF_NODUP);
    ASSERT_NE(newer, nullptr);
    EXPECT_EQ(store.find("baud"), newer);
    EXPECT_EQ(store.size(), 2);
    EXPECT_EQ(first, 1);
}

TEST(KvStore, InitialValueComesFromDefaultTextOrElseTheVariable) {
    Store store;
    int baud = 9600;
    int rate = 9600;
    bool quiet = false;
    bool verbose = false;
    char fmt[16] = "CSV";
    char mode[16] = "old";
    KVAL* e;

    e = store.addnum("baud", &baud, nullptr, 0, 0);
    EXPECT_STREQ(e->value(), "9600");
    e = store.addnum("rate", &rate, "19200", 0, 0);
    EXPECT_STREQ(e->value(), "19200");
    EXPECT_EQ(rate, 19200);
    e = store.addnum("count", nullptr, nullptr, 0, 0);
    EXPECT_STREQ(e->value(), "");

    e = store.addbool("quiet", &quiet, nullptr, 0, 0);
    EXPECT_STREQ(e->value(), "False");
    e = store.addbool("verbose", &verbose, "yes", 0, 0);
    EXPECT_STREQ(e->value(), "True");
    EXPECT_TRUE(verbose);
    e = store.addbool("flag", nullptr, nullptr, 0, 0); // an unbound flag starts off
    EXPECT_STREQ(e->value(), "False");

    e = store.addstr("fmt", fmt, nullptr, 0, 0);
    EXPECT_STREQ(e->value(), "CSV");
    e = store.addstr("mode", mode, "new", 0, 0);
    EXPECT_STREQ(e->value(), "new");
    EXPECT_STREQ(mode, "new");
    e = store.addstr("none", nullptr, nullptr, 0, 0);
    EXPECT_STREQ(e->value(), "");

    e = store.addstr("user", nullptr, nullptr, 0x1234, KVF_READONLY | KVF_ONEOF);
    EXPECT_EQ(e->dwUser, 0x1234u);
    EXPECT_EQ(e->dwFlags, KVF_READONLY | KVF_ONEOF);
    EXPECT_EQ(e->nType, KVT_STRING);
}

TEST(KvStore, UpdateRewritesTheVariableAndReportsChanges) {
    Store store;
    int baud = 9600;
    bool tty = false;
    char fmt[16] = "CSV";
    KVAL* b = store.addnum("baud", &baud, nullptr, 0, 0);
    KVAL* t = store.addbool("tty", &tty, nullptr, 0, 0);
    KVAL* f = store.addstr("fmt", fmt, nullptr, 0, 0);

    const struct {
        KVAL* entry;
        const char* text;
        int baud;
        bool tty;
        const char* fmt;
    } steps[] = {
        {b, "abc", 0, false, "CSV"},    {b, "19200x", 19200, false, "CSV"},
        {b, " -5", -5, false, "CSV"},   {t, "", -5, true, "CSV"},
        {t, "false", -5, false, "CSV"}, {t, "no", -5, true, "CSV"},
        {t, "0", -5, false, "CSV"},     {f, "hex", -5, false, "hex"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.text);
        EXPECT_TRUE(store.update(s.entry, s.text, nullptr));
        EXPECT_STREQ(s.entry->value(), s.text);
        EXPECT_EQ(baud, s.baud);
        EXPECT_EQ(tty, s.tty);
        EXPECT_STREQ(fmt, s.fmt);
    }

    bool changed = false;
    EXPECT_TRUE(store.update(f, "hex", &changed));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(store.update(f, "HEX", &changed));
    EXPECT_TRUE(changed);
    EXPECT_TRUE(store.update(f, "HEX", &changed)); // never cleared
    EXPECT_TRUE(changed);

    // A text taken from the entry's own value is copied before the old one goes.
    EXPECT_TRUE(store.update(f, f->pszValue, nullptr));
    EXPECT_STREQ(f->value(), "HEX");
}

TEST(KvStore, ReadOnlyEntryRefusesUpdate) {
    Store store;
    int baud = 9600;
    KVAL* b = store.addnum("Baud", &baud, nullptr, 0, KVF_READONLY);
    bool changed = false;
    bool result = true;
    EXPECT_EQ(stdout_of([&] { result = store.update(b, "19200", &changed); }),
              "KVAL error: can't update read-only value Baud\n");
    EXPECT_FALSE(result);
    EXPECT_FALSE(changed);
    EXPECT_STREQ(b->value(), "9600");
    EXPECT_EQ(baud, 9600);
}

TEST(KvStore, ValueTextsConvertByType) {
    struct {
        std::uint32_t type;
        const char* text;
        double expected;
    } cases[] = {
        {KVT_INT, "42", 42},
        {KVT_INT, "-7 apples", -7},
        {KVT_INT, "x1", 0},
        {KVT_INT, " +2147483647", 2147483647.0},
        {KVT_INT, "-2147483648", -2147483648.0},
        {KVT_INT, "2147483648", 0}, // out of range
        {KVT_INT, "-99999999999", 0},
        {KVT_HEX, "0x1F", 31},
        {KVT_HEX, "0xffffffff", 4294967295.0},
        {KVT_HEX, "1F", 0}, // must start with 0x
        {KVT_DOUBLE, "2 * 3", 6},
        {KVT_INT64, "12345678901", 12345678901.0},
        {KVT_INT64, "-9000000000", -9000000000.0},
        {KVT_INT64, "many", 0},
        {KVT_BOOL, "  f", 0},
        {KVT_BOOL, "on", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        KVAL entry;
        entry.nType = c.type;
        entry.pszValue = const_cast<char*>(c.text);
        union {
            int i;
            unsigned u;
            double d;
            std::int64_t l;
            bool b;
        } out;
        std::memset(&out, 0x5a, sizeof out); // garbage the conversion must overwrite
        entry.getvalue(&out);
        const double got = c.type == KVT_INT      ? out.i
                           : c.type == KVT_HEX    ? out.u
                           : c.type == KVT_DOUBLE ? out.d
                           : c.type == KVT_INT64  ? static_cast<double>(out.l)
                                                  : out.b;
        EXPECT_EQ(got, c.expected);
        entry.pszValue = nullptr;
    }
    KVAL none;
    none.nType = KVT_INT;
    none.getvalue(nullptr); // nothing to write
    int unset = 99;
    none.getvalue(&unset); // no value text yet: converts the empty text
    EXPECT_EQ(unset, 0);
}

TEST(KvConvert, ParseBoolIsFalseOnlyForLeadingZeroOrF) {
    for (const char* text : {"0", "false", "F", "fish", "  \tf", "0.5"}) {
        EXPECT_FALSE(parsebool(text)) << text;
    }
    for (const char* text : {"1", "true", "no", "off", "", "   ", "T"}) {
        EXPECT_TRUE(parsebool(text)) << text;
    }
}

TEST(KvConvert, ParseDoubleHandlesQuotientsProductsAndInnerSpaces) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"1/3", 1.0 / 3},  {"3 / 4", 0.75}, {"3/", 3.0},       {"1/0", 0.0}, {"1/1e-31", 0.0},
        {"1/1e-30", 1e30}, {"2.5*4", 10.0}, {" 2 * 3 ", 6.0},  {"3*", 0.0},  {"1 000", 1000},
        {"abc", 0.0},      {"", 0.0},       {"-1.5e3", -1500}, {"7 ", 7.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(parsedouble(c.text), c.expected) << c.text;
    }
}

TEST(KvStore, AtWalksRegistrationOrderAndIsNullOutsideTheRange) {
    Store store;
    const char* names[] = {"port", "baud", "interval_ms", "tty", "fmt", "out"};
    for (const char* name : names) {
        store.addstr(name, nullptr, nullptr, 0, 0);
    }
    for (int i = 0; i < store.size(); ++i) {
        ASSERT_NE(store.at(i), nullptr);
        EXPECT_STREQ(store.at(i)->pszName, names[i]); // cached and uncached access alike
    }
    for (int i = 0; i < store.size(); ++i) {
        EXPECT_STREQ(store.at(i)->pszName, names[i]);
    }
    EXPECT_EQ(store.at(6), nullptr);
    EXPECT_STREQ(store.at(3)->pszName, "tty");
    EXPECT_STREQ(store.at(1)->pszName, "baud");
    for (int outside : {-1, 7, 100, -1}) {
        EXPECT_EQ(store.at(outside), nullptr) << outside;
    }
    EXPECT_STREQ(store.at(0)->pszName, "port");

    Store empty;
    EXPECT_EQ(empty.at(0), nullptr);
    EXPECT_EQ(empty.at(5), nullptr);
}

TEST(KvStore, RemovedEntriesAreReusedLastRemovedFirst) {
    Store store;
    int baud = 9600;
    KVAL* port = store.addstr("port", nullptr, "COM1", 0, 0);
    KVAL* tty = store.addbool("tty", nullptr, "1", 0, 0);
    KVAL* b = store.addnum("baud", &baud, "19200", 0, 0);

    store.remove(tty);
    EXPECT_EQ(store.size(), 2);
    EXPECT_EQ(store.find("tty"), nullptr);
    EXPECT_EQ(store.find("port"), port);
    EXPECT_EQ(tty->bInUse, 0);
    EXPECT_EQ(tty->pszName, nullptr);
    EXPECT_EQ(tty->pszValue, nullptr);
    store.remove(tty); // already removed: nothing happens
    store.remove(nullptr);
    EXPECT_EQ(store.lstFree.nCount, 1);
    EXPECT_EQ(store.addstr("fmt", nullptr, "CSV", 0, 0), tty);

    store.removeall();
    EXPECT_EQ(store.size(), 0);
    EXPECT_EQ(store.lstFree.nCount, 3);
    for (int bucket = 0; bucket < kKvBuckets; ++bucket) {
        EXPECT_EQ(store.apBucket[bucket], nullptr) << bucket;
    }
    EXPECT_EQ(baud, 19200); // the variable keeps its last value
    // removeall takes the entries from the end, so the first one was removed last.
    EXPECT_EQ(store.addstr("out", nullptr, nullptr, 0, 0), port);
    EXPECT_EQ(store.addstr("x", nullptr, nullptr, 0, 0), b);
    EXPECT_EQ(store.lstFree.nCount, 1);
}

TEST(KvStore, ClearForgetsEntriesAndLastError) {
    Store store;
    store.addstr("port", nullptr, nullptr, 0, 0);
    stdout_of([&] { store.addstr("port", nullptr, nullptr, 0, 0); });
    ASSERT_STRNE(store.szLastError, "");
    store.clear();
    EXPECT_STREQ(store.szLastError, "");
    EXPECT_EQ(store.size(), 0);
}

// The store's allocations for one add: the entry, its name, its value text.
TEST(KvStore, OutOfMemoryInAnAddIsReportedAndLeavesTheStoreUsable) {
    const struct {
        int failing;     // which allocation fails
        bool registered; // the entry stays registered (without a value)
    } cases[] = {{1, false}, {2, false}, {3, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        Store store;
        int baud = 9600;
        KVAL* added = nullptr;
        std::string printed;
        {
            FailingAllocation failure(c.failing);
            printed = stdout_of([&] { added = store.addnum("baud", &baud, "19200", 0, 0); });
            ASSERT_TRUE(FailingAllocation::failed());
        }
        EXPECT_EQ(added, nullptr);
        EXPECT_EQ(printed, "KVAL error: addnum(baud) out of memory\n");
        EXPECT_EQ(store.size(), c.registered ? 1 : 0);
        EXPECT_EQ(baud, 9600);
        KVAL* entry = store.find("baud");
        EXPECT_EQ(entry != nullptr, c.registered);
        if (entry != nullptr) {
            EXPECT_EQ(entry->pszValue, nullptr);
            EXPECT_STREQ(entry->value(), "");
            bool changed = false;
            EXPECT_TRUE(store.update(entry, "", &changed));
            EXPECT_FALSE(changed); // no value compares as the empty text
        }
        // The store goes on working, reusing what it obtained.
        KVAL* later = store.addstr("port", nullptr, "COM2", 0, 0);
        ASSERT_NE(later, nullptr);
        EXPECT_STREQ(later->value(), "COM2");
    }
}

TEST(KvStore, OutOfMemoryInUpdateLeavesNoValue) {
    Store store;
    char fmt[16] = "CSV";
    KVAL* f = store.addstr("fmt", fmt, nullptr, 0, 0);
    bool result = true;
    FailingAllocation failure(1);
    EXPECT_EQ(stdout_of([&] { result = store.update(f, "HEX", nullptr); }),
              "KVAL error: update() out of memory, key fmt\n");
    EXPECT_FALSE(result);
    EXPECT_EQ(f->pszValue, nullptr);
    EXPECT_STREQ(fmt, "CSV");
}

TEST(KvStore, EveryValueSetterReportsOutOfMemoryThroughItsAdd) {
    bool tty = false;
    int baud = 9600;
    const struct {
        const char* expected;
        KVAL* (*add)(Store&, bool*, int*);
    } adds[] = {
        {"KVAL error: addbool(tty) out of memory\n",
         [](Store& s, bool* v, int*) { return s.addbool("tty", v, nullptr, 0, 0); }},
        {"KVAL error: addnum(baud) out of memory\n",
         [](Store& s, bool*, int* v) { return s.addnum("baud", v, nullptr, 0, 0); }},
        {"KVAL error: addstr(fmt) out of memory\n",
         [](Store& s, bool*, int*) { return s.addstr("fmt", nullptr, nullptr, 0, 0); }},
    };
    for (const auto& a : adds) {
        Store store;
        FailingAllocation failure(3); // the value text
        KVAL* added = nullptr;
        EXPECT_EQ(stdout_of([&] { added = a.add(store, &tty, &baud); }), a.expected);
        EXPECT_EQ(added, nullptr);
        EXPECT_EQ(store.size(), 1);
        EXPECT_EQ(store.at(0)->pszValue, nullptr);
    }
}

TEST(KvStoreDeathTest, NullNameStopsTheProgram) {
    Store store;
    EXPECT_DEATH(store.addstr(nullptr, nullptr, nullptr, 0, 0),
                 "Assertion failed: V != NULL, file .*stdtpl\\.h, line ");
    EXPECT_DEATH(store.addbool(nullptr, nullptr, nullptr, 0, KVF_NODUP),
                 "Assertion failed: V != NULL");
}

// A nested store held by an object entry: the entry owns it.
TEST(KvStore, ObjectEntryOwnsItsObjectAndValueChangesLeaveItIntact) {
    Store* nested = new Store;
    nested->addstr("inner", nullptr, "kept", 0, 0);
    {
        Store store;
        KVAL* e = store.addstr("child", nullptr, "x", 0, 0);
        e->nType = KVT_OBJECT;
        e->pVar = static_cast<SRC*>(nested);
        EXPECT_TRUE(store.update(e, "changed", nullptr));
        EXPECT_TRUE(e->setnum(3));
        EXPECT_STREQ(nested->find("inner")->value(), "kept");
        void* out = nullptr;
        e->getvalue(&out);
        EXPECT_EQ(out, static_cast<void*>(static_cast<SRC*>(nested)));
    } // teardown deletes the nested store; the leak checker would see it otherwise
}

} // namespace
