#include "extension/instance.h"

#include "engine/run.h"
#include "extension/host_services.h"

namespace qvd {
namespace {

// "en_US" in UTF-16.
constexpr std::uint16_t kLocaleName[] = {u'e', u'n', u'_', u'U', u'S'};
constexpr std::int64_t kLocaleNameLength = 5;

std::int32_t run_operation(TestInstance *self, DependenceRequest *request) {
  return run(self, request);
}

}  // namespace

TestInstance *create_instance(void *context) {
  HostPool *pool = nullptr;
  void *block = create_record_in_own_pool(context, sizeof(TestInstance), &pool);
  if (block == nullptr) return nullptr;
  auto *instance = static_cast<TestInstance *>(block);
  instance->pool = pool;
  instance->destroy = &destroy_instance;
  instance->run = &run_operation;

  HostServices *services = host_services();
  LocaleServices *locales = services->locale_services;
  // The handle is passed on as the host gives it, null included.
  instance->locale =
      locales->lookup_locale(locales, kLocaleName, kLocaleNameLength);

  JournalParams params{};
  params.capacity = kJournalCapacity;
  params.one = 1;
  params.locale = instance->locale;
  instance->journal =
      services->create_journal(services, &params, context, kJournalName);
  if (instance->journal == nullptr) {
    pool->destroy(pool);  // frees the instance too
    return nullptr;
  }
  return instance;
}

void destroy_instance(TestInstance *instance) {
  if (instance == nullptr) return;
  if (instance->journal != nullptr) instance->journal->close(instance->journal);
  HostPool *pool = instance->pool;
  pool->destroy(pool);  // the instance is gone after this
}

}  // namespace qvd
