// UUIDs through libuuid.

#include <uuid/uuid.h>

#include <cstdlib>
#include <cstring>

#include "qel_uuid.h"

static_assert(sizeof(uuid_t) == sizeof(QELUuid::bytes));

int QELUuidCreate(QELUuid* uuid) {
  if (!uuid) return 0;
  uuid_generate_random(uuid->bytes);
  return 1;
}

int QELUuidCreateNil(QELUuid* uuid) {
  if (!uuid) return 0;
  std::memset(uuid->bytes, 0, sizeof uuid->bytes);
  return 1;
}

int QELUuidToString(const QELUuid* uuid, int form, char** text) {
  if (!uuid || !text || (form != QEL_UUID_FORM_LOWER && form != QEL_UUID_FORM_UPPER)) return 0;
  auto* out = static_cast<char*>(std::malloc(37));
  if (!out) return 0;
  if (form == QEL_UUID_FORM_LOWER) {
    uuid_unparse_lower(uuid->bytes, out);
  } else {
    uuid_unparse_upper(uuid->bytes, out);
  }
  *text = out;
  return 1;
}
