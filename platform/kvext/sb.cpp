// The engine's stream buffers.

#include <cstdint>
#include <cstring>

#include "kvng.h"
#include "kvng_sb.h"

struct KVngSB {
  unsigned char* data;
  size_t length;
  size_t capacity;
  size_t position;
};

KVngSB* KVngSBNew(void) { return static_cast<KVngSB*>(kvng_internal_calloc(1, sizeof(KVngSB))); }

void KVngSBFree(KVngSB* sb) {
  if (!sb) return;
  kvng_internal_free(sb->data);
  kvng_internal_free(sb);
}

void KVngSBClear(KVngSB* sb) {
  if (sb) sb->length = sb->position = 0;
}

int KVngSBAppend(KVngSB* sb, const void* bytes, size_t count) {
  if (!sb || (!bytes && count)) return 0;
  if (count > sb->capacity - sb->length) {
    if (count > SIZE_MAX / 2 - sb->length) return 0;
    size_t capacity = sb->capacity ? sb->capacity : 256;
    while (capacity < sb->length + count) capacity *= 2;
    auto* grown = static_cast<unsigned char*>(kvng_internal_calloc(capacity, 1));
    if (!grown) return 0;
    if (sb->length) std::memcpy(grown, sb->data, sb->length);
    kvng_internal_free(sb->data);
    sb->data = grown;
    sb->capacity = capacity;
  }
  if (count) std::memcpy(sb->data + sb->length, bytes, count);
  sb->length += count;
  return 1;
}

size_t KVngSBBytesAvailable(const KVngSB* sb) { return sb ? sb->length - sb->position : 0; }

size_t KVngSBPeek(const KVngSB* sb, void* buffer, size_t count) {
  const size_t n = count < KVngSBBytesAvailable(sb) ? count : KVngSBBytesAvailable(sb);
  if (n) std::memcpy(buffer, sb->data + sb->position, n);
  return n;
}

size_t KVngSBRead(KVngSB* sb, void* buffer, size_t count) {
  const size_t n = KVngSBPeek(sb, buffer, count);
  if (sb) sb->position += n;
  return n;
}

int KVngSBSetPosition(KVngSB* sb, size_t position) {
  if (!sb || position > sb->length) return 0;
  sb->position = position;
  return 1;
}

const unsigned char* KVngSBData(const KVngSB* sb, size_t* length) {
  if (length) *length = sb ? sb->length : 0;
  return sb ? sb->data : nullptr;
}
