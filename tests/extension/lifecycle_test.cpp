// The module's face towards the host: entry points, descriptor, instances.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "support/recording_host.h"

namespace qvd::host {
namespace {

using ::testing::Test;

template <class T>
T read_at(const void *record, std::size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char *>(record) + offset, sizeof value);
  return value;
}

bool bytes_are(const void *record, std::size_t from, std::size_t to, unsigned char b) {
  const auto *p = static_cast<const unsigned char *>(record);
  for (std::size_t i = from; i < to; ++i)
    if (p[i] != b) return false;
  return true;
}

std::vector<HostEvent> events_of(const RecordingHost &host, EventKind kind) {
  std::vector<HostEvent> out;
  for (const auto &e : host.events())
    if (e.kind == kind) out.push_back(e);
  return out;
}

// The DLL's export table is read by windows_dll_tables on the build machine.
#if !defined(_WIN32)
TEST(Exports, ExactlyTheEntryPoints) {
  const std::string command = std::string("nm -D --defined-only ") + QVDEP_MODULE_PATH;
  FILE *pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char address[64], type[8], name[256];
    if (std::sscanf(line, "%63s %7s %255s", address, type, name) == 3) names.insert(name);
  }
  ASSERT_EQ(pclose(pipe), 0);
  const std::set<std::string> expected = {"qvdep", "qvextent", "qvextver", "qvrelct1",
                                          "qvdep_set_exception_handler"};
  EXPECT_EQ(names, expected);
}
#endif

TEST(EntryPoints, ServicesOfTheLastRegistrationWin) {
  RecordingHost first(QVDEP_MODULE_PATH);
  RecordingHost second(QVDEP_MODULE_PATH);  // registered last, by qvextent
  std::uint64_t major = 77, minor = 77;
  for (RecordingHost *host : {&first, &second, &first}) {
    major = minor = 77;
    EXPECT_EQ(host->module().qvextver(host->services(), &major, &minor), 0);
    EXPECT_EQ(major, 5u);
    EXPECT_EQ(minor, 1u);
  }
  ExtensionDescriptor *d = first.create_descriptor();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(events_of(first, EventKind::create_pool).size(), 1u);
  EXPECT_TRUE(events_of(second, EventKind::create_pool).empty());
  first.release_descriptor(d);

  EXPECT_EQ(first.module().qvextent(second.services()), 0);
  d = second.create_descriptor();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(events_of(second, EventKind::create_pool).size(), 1u);
  second.release_descriptor(d);
}

class Lifecycle : public Test {
 protected:
  RecordingHost host{QVDEP_MODULE_PATH};
};

TEST_F(Lifecycle, DescriptorLayoutAndContents) {
  ExtensionDescriptor *d = host.create_descriptor();
  ASSERT_NE(d, nullptr);
  const auto pools = events_of(host, EventKind::create_pool);
  ASSERT_EQ(pools.size(), 1u);
  EXPECT_EQ(pools[0].name, "qvdep pool");
  EXPECT_EQ(pools[0].context, host.context());
  EXPECT_TRUE(bytes_are(&pools[0].pool_params, 0, sizeof(PoolParams), 0));
  const auto allocs = events_of(host, EventKind::alloc);
  ASSERT_EQ(allocs.size(), 1u);
  EXPECT_EQ(allocs[0].size, 136u);
  EXPECT_EQ(allocs[0].flags, 0x80000000u);
  EXPECT_EQ(allocs[0].block, d);

  // Fields at their offsets; every other byte keeps the host's fill.
  EXPECT_EQ(read_at<HostPool *>(d, 72)->alloc, d->pool->alloc);
  EXPECT_EQ(std::string(d->description, 28), "QRM/PLX Panel Unit Root Test");
  EXPECT_TRUE(bytes_are(d, 0, 24, 0xA5));
  EXPECT_TRUE(bytes_are(d, 40, 48, 0xA5));
  EXPECT_TRUE(bytes_are(d, 56, 72, 0xA5));
  EXPECT_TRUE(bytes_are(d, 108, 128, 0xA5));  // no terminator after the text

  std::uint64_t a = 0, b = 0, c = 0;
  EXPECT_EQ(read_at<decltype(d->interface_version)>(d, 24)(d, &a, &b, &c), 0);
  EXPECT_EQ(a * 100 + b * 10 + c, 511u);
  EXPECT_EQ(read_at<decltype(d->module_version)>(d, 32)(nullptr, &a, &b, &c), 0);
  EXPECT_EQ(a * 100 + b * 10 + c, 100u);

  EXPECT_EQ(host.live_pools(), 1);
  EXPECT_EQ(read_at<decltype(d->release)>(d, 48)(d), 0);
  EXPECT_EQ(host.live_pools(), 0);
  EXPECT_TRUE(host.live_blocks().empty());
}

TEST_F(Lifecycle, ZeroFilledHostGivesUnwrittenBytesZero) {
  host.faults().zero_fill = true;
  ExtensionDescriptor *d = host.create_descriptor();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(bytes_are(d, 108, 128, 0));
  host.release_descriptor(d);
}

TEST_F(Lifecycle, InstanceLayoutJournalAndLocale) {
  ExtensionDescriptor *d = host.create_descriptor();
  host.clear_events();
  TestInstance *t = read_at<decltype(d->create_instance)>(d, 128)(host.context());
  ASSERT_NE(t, nullptr);
  const auto pools = events_of(host, EventKind::create_pool);
  ASSERT_EQ(pools.size(), 1u);
  EXPECT_EQ(pools[0].name, "qvdep pool");
  EXPECT_EQ(pools[0].context, host.context());
  const auto allocs = events_of(host, EventKind::alloc);
  ASSERT_EQ(allocs.size(), 1u);
  EXPECT_EQ(allocs[0].size, 56u);
  EXPECT_EQ(allocs[0].flags, 0x80000000u);
  EXPECT_EQ(allocs[0].pool, pools[0].pool);

  const auto locales = events_of(host, EventKind::lookup_locale);
  ASSERT_EQ(locales.size(), 1u);
  EXPECT_EQ(locales[0].locale_name, u"en_US");
  EXPECT_EQ(locales[0].locale_length, 5);

  const auto journals = events_of(host, EventKind::create_journal);
  ASSERT_EQ(journals.size(), 1u);
  EXPECT_EQ(journals[0].name, "qvdepJnl");
  EXPECT_EQ(journals[0].context, host.context());
  const JournalParams &p = journals[0].journal_params;
  EXPECT_EQ(p.first, 0u);
  EXPECT_EQ(p.capacity, 1024000u);
  EXPECT_EQ(p.one, 1u);
  EXPECT_EQ(p.zero, 0u);
  EXPECT_EQ(p.locale, t->locale);
  EXPECT_TRUE(bytes_are(&p, 32, 88, 0));

  EXPECT_NE(read_at<void *>(t, 8), nullptr);
  EXPECT_NE(read_at<HostJournal *>(t, 16), nullptr);
  EXPECT_TRUE(bytes_are(t, 24, 40, 0xA5));
  EXPECT_NE(read_at<decltype(t->run)>(t, 48), nullptr);

  // Instance and descriptor are independent of each other.
  host.release_descriptor(d);
  EXPECT_EQ(host.live_pools(), 1);
  host.clear_events();
  read_at<decltype(t->destroy)>(t, 40)(t);
  EXPECT_EQ(events_of(host, EventKind::close_journal).size(), 1u);
  EXPECT_EQ(host.events().back().kind, EventKind::destroy_pool);
  EXPECT_EQ(host.live_pools(), 0);
  EXPECT_EQ(host.open_journals(), 0);
  EXPECT_TRUE(host.live_blocks().empty());
}

TEST_F(Lifecycle, DestroyNullInstanceAndNullJournal) {
  ExtensionDescriptor *d = host.create_descriptor();
  TestInstance *t = host.create_instance(d);
  ASSERT_NE(t, nullptr);
  auto destroy = t->destroy;
  host.clear_events();
  destroy(nullptr);
  EXPECT_TRUE(host.events().empty());

  t->journal = nullptr;  // as a host whose journal went away
  destroy(t);
  ASSERT_EQ(host.events().size(), 1u);
  EXPECT_EQ(host.events()[0].kind, EventKind::destroy_pool);
  host.release_descriptor(d);
  EXPECT_EQ(host.live_pools(), 0);
}

TEST_F(Lifecycle, NullLocaleIsStoredAndPassedOn) {
  host.faults().null_locale = true;
  ExtensionDescriptor *d = host.create_descriptor();
  TestInstance *t = host.create_instance(d);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->locale, nullptr);
  EXPECT_EQ(events_of(host, EventKind::create_journal)[0].journal_params.locale, nullptr);
  host.destroy_instance(t);
  host.release_descriptor(d);
}

// Every way the host can fail leaves no pool of the failed object alive.
TEST_F(Lifecycle, HostFailuresLeaveNothingAlive) {
  struct Case {
    const char *what;
    bool fail_pool, fail_journal;
    long refuse;
  };
  const Case cases[] = {
      {"create_pool fails", true, false, 0},
      {"alloc refused", false, false, 1},
      {"create_journal fails", false, true, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ExtensionDescriptor *d = host.create_descriptor();
    ASSERT_NE(d, nullptr);
    const int pools_before = host.live_pools();
    host.faults().fail_create_pool = c.fail_pool;
    host.faults().fail_create_journal = c.fail_journal;
    host.refuse_alloc(c.refuse);
    EXPECT_EQ(d->create_instance(host.context()), nullptr);
    EXPECT_EQ(host.live_pools(), pools_before);
    if (!c.fail_journal) {
      host.refuse_alloc(c.refuse);
      EXPECT_EQ(host.module().qvdep(nullptr, host.context()), nullptr);
      EXPECT_EQ(host.live_pools(), pools_before);
    }
    host.faults() = FaultPlan{};
    host.release_descriptor(d);
    EXPECT_EQ(host.live_pools(), 0);
    EXPECT_TRUE(host.live_blocks().empty());
  }
}

TEST_F(Lifecycle, FailedJournalStillLookedUpTheLocale) {
  ExtensionDescriptor *d = host.create_descriptor();
  host.faults().fail_create_journal = true;
  host.clear_events();
  EXPECT_EQ(host.create_instance(d), nullptr);
  EXPECT_EQ(events_of(host, EventKind::lookup_locale).size(), 1u);
  EXPECT_EQ(host.events().back().kind, EventKind::destroy_pool);
  host.release_descriptor(d);
}

TEST_F(Lifecycle, VersionRecordCopiesAllSlots) {
  VersionRecord record;
  std::memset(&record, 0xFF, sizeof record);
  EXPECT_EQ(host.module().qvrelct1(&record), 0);
  EXPECT_EQ(std::strlen(record.slot[0].text), 18u);
  EXPECT_NE(std::strchr(record.slot[1].text, ':'), nullptr);
  EXPECT_STREQ(record.slot[2].text, "");
  EXPECT_EQ(record.slot[3].number, 1556133304);
  EXPECT_EQ(std::string(record.slot[6].text), std::string(record.slot[4].text) + "2");
  EXPECT_EQ(std::strlen(record.slot[5].text), 5u);
  EXPECT_EQ(std::strlen(record.slot[7].text), 19u);
  EXPECT_STREQ(record.slot[9].text, "version");
  EXPECT_STREQ(record.slot[10].text, "::");
  EXPECT_EQ(std::string(record.slot[12].text),
            "QRM_VERSION_HOTFIX_NUMBER=" + std::string(39, ' '));
  EXPECT_EQ(std::string(record.slot[14].text),
            "RELCAT_IMAGE_DESCRIPTION=" + std::string(40, ' '));
  EXPECT_EQ(std::strlen(record.slot[15].text), 5u);
  EXPECT_STREQ(record.slot[16].text, "Wed Apr 24 19:15:04 UTC 2019");
  for (int slot = 17; slot < 26; ++slot) EXPECT_EQ(record.slot[slot].text, nullptr) << slot;
}

}  // namespace
}  // namespace qvd::host
