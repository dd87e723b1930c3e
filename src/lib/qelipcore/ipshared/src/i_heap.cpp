// Heap manager and cell-block allocator.

#include "i_heap.h"

#include <cstring>

#include "checked_size.h"
#include "ip_internal.h"

namespace {

constexpr size_t kNodeSize = sizeof(HeapNode);

// Cells start on a boundary fit for any record, and each cell keeps its free link in its first
// pointer-sized word.
constexpr size_t round_up(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }
constexpr size_t kCellHeaderSize = round_up(sizeof(CellBlock), alignof(std::max_align_t));

void* slot_alloc(IPState* s, size_t size) { return s->mallocProc[IP_SLOT_HEAP](size, s->allocData[IP_SLOT_HEAP]); }
void slot_free(IPState* s, void* p) { s->freeProc[IP_SLOT_HEAP](p, s->allocData[IP_SLOT_HEAP]); }

HeapNode* find_node(HeapManager* m, const void* block) {
  for (HeapNode* n = m->newest; n; n = n->next)
    if (n->block == block) return n;
  return nullptr;
}

// Links a node at the newest end; false when the byte count would overflow.
bool link_newest(HeapManager* m, HeapNode* node, void* block, size_t size) {
  size_t bytes;
  if (!mono::checked_add(size, kNodeSize, &bytes) || !mono::checked_add(m->byteCount, bytes, &bytes))
    return false;
  node->block = block;
  node->size = size;
  node->prev = nullptr;
  node->next = m->newest;
  if (m->blockCount != 0)
    m->newest->prev = node;
  else
    m->oldest = node;
  m->newest = node;
  ++m->blockCount;
  m->byteCount = bytes;
  return true;
}

void* load_link(const void* cell) {
  void* link;
  std::memcpy(&link, cell, sizeof link);
  return link;
}
void store_link(void* cell, void* link) { std::memcpy(cell, &link, sizeof link); }

}  // namespace

extern "C" {

VltStatus i_getHeapManagerSize(IPState* state, size_t* size) {
  if (!size) return IP_FAIL(state, VLT_ERR_NULL);
  *size = sizeof(HeapManager);
  return VLT_OK;
}

VltStatus i_initializeHeapManager(IPState* state, HeapManager* manager) {
  if (!manager) return IP_FAIL(state, VLT_ERR_NULL);
  manager->state = state;
  manager->newest = nullptr;
  manager->oldest = nullptr;
  manager->blockCount = 0;
  manager->byteCount = 0;
  return VLT_OK;
}

VltStatus i_destroyHeapManager(IPState* state, HeapManager* manager) {
  if (!manager) return IP_FAIL(state, VLT_ERR_NULL);
  // The blocks came from the manager's own state, which need not be the caller's.
  IPState* owner = manager->state;
  for (HeapNode* n = manager->newest; n;) {
    HeapNode* next = n->next;
    if (n->block) slot_free(owner, n->block);
    slot_free(owner, n);
    n = next;
  }
  return i_initializeHeapManager(state, manager);
}

VltStatus i_getNumHeapBlocks(IPState* state, HeapManager* manager, uint32_t* count) {
  if (!manager || !count) return IP_FAIL(state, VLT_ERR_NULL);
  *count = manager->blockCount;
  return VLT_OK;
}

VltStatus i_getNumHeapBytes(IPState* state, HeapManager* manager, size_t* bytes) {
  if (!manager || !bytes) return IP_FAIL(state, VLT_ERR_NULL);
  *bytes = manager->byteCount;
  return VLT_OK;
}

void* i_hm_malloc(size_t size, HeapManager* manager) {
  if (!manager || !manager->state) return nullptr;
  IPState* s = manager->state;
  auto* node = static_cast<HeapNode*>(slot_alloc(s, kNodeSize));
  if (!node) return nullptr;
  void* block = slot_alloc(s, size);
  if (block && link_newest(manager, node, block, size)) return block;
  if (block) slot_free(s, block);
  slot_free(s, node);
  return nullptr;
}

void* i_hm_calloc(size_t count, size_t size, HeapManager* manager) {
  if (!manager || !manager->state) return nullptr;
  size_t total;
  if (!mono::checked_mul(count, size, &total)) return nullptr;
  IPState* s = manager->state;
  auto* node = static_cast<HeapNode*>(slot_alloc(s, kNodeSize));
  if (!node) return nullptr;
  void* block = s->callocProc[IP_SLOT_HEAP](count, size, s->allocData[IP_SLOT_HEAP]);
  if (block && link_newest(manager, node, block, total)) return block;
  if (block) slot_free(s, block);
  slot_free(s, node);
  return nullptr;
}

void* i_hm_realloc(void* ptr, size_t size, HeapManager* manager) {
  if (!manager || !manager->state) return nullptr;
  IPState* s = manager->state;
  // A C library may free the block and answer null for size 0, which would leave the node
  // holding a freed pointer; ask for one byte instead.
  const size_t request = size ? size : 1;
  HeapNode* node = ptr ? find_node(manager, ptr) : nullptr;
  if (node) {
    size_t bytes = manager->byteCount - node->size;
    if (!mono::checked_add(bytes, size, &bytes)) return nullptr;
    void* block = s->reallocProc[IP_SLOT_HEAP](ptr, request, s->allocData[IP_SLOT_HEAP]);
    if (!block) return nullptr;
    node->block = block;
    node->size = size;
    manager->byteCount = bytes;
    return block;
  }
  auto* fresh = static_cast<HeapNode*>(slot_alloc(s, kNodeSize));
  if (!fresh) return nullptr;
  size_t bytes;
  if (!mono::checked_add(size, kNodeSize, &bytes) || !mono::checked_add(manager->byteCount, bytes, &bytes)) {
    slot_free(s, fresh);
    return nullptr;
  }
  void* block = s->reallocProc[IP_SLOT_HEAP](ptr, request, s->allocData[IP_SLOT_HEAP]);
  if (!block) {
    slot_free(s, fresh);
    return nullptr;
  }
  link_newest(manager, fresh, block, size);
  return block;
}

void i_hm_free(void* ptr, HeapManager* manager) {
  if (!manager || !manager->state || !ptr) return;
  HeapNode* node = find_node(manager, ptr);
  if (!node) return;
  IPState* s = manager->state;
  slot_free(s, node->block);
  node->block = nullptr;
  if (node == manager->newest)
    manager->newest = node->next;
  else
    node->prev->next = node->next;
  if (node == manager->oldest)
    manager->oldest = node->prev;
  else
    node->next->prev = node->prev;
  --manager->blockCount;
  manager->byteCount -= node->size + kNodeSize;
  slot_free(s, node);
}

VltStatus i_allocateMemoryBlock(IPState* state, CellBlock** block, size_t cellSize,
                                uint32_t cellCount, HeapManager* manager) {
  if (!block || !manager) return IP_FAIL(state, VLT_ERR_NULL);
  if (cellSize < sizeof(void*) || cellCount == 0) return IP_FAIL(state, VLT_ERR_PARAM);
  const size_t stride = round_up(cellSize, alignof(void*));
  size_t total;
  if (stride < cellSize || !mono::checked_mul_add(stride, size_t{cellCount}, kCellHeaderSize, &total))
    return IP_FAIL(state, VLT_ERR_PARAM);
  auto* b = static_cast<CellBlock*>(i_hm_malloc(total, manager));
  if (!b) return VLT_ERR_NOMEM;
  auto* cells = reinterpret_cast<uint8_t*>(b) + kCellHeaderSize;
  std::memset(cells, 0, total - kCellHeaderSize);
  for (uint32_t i = 0; i + 1 < cellCount; ++i) store_link(cells + i * stride, cells + (i + 1) * stride);
  b->nextBlock = nullptr;
  b->freeHead = cells;
  b->cellSize = stride;
  b->cellCount = cellCount;
  b->heapManager = manager;
  *block = b;
  return VLT_OK;
}

VltStatus i_allocateStruct(IPState* state, CellBlock* first, void** cell) {
  if (!first || !cell) return IP_FAIL(state, VLT_ERR_NULL);
  void* head = first->freeHead;
  void* link = load_link(head);
  if (link) {
    first->freeHead = link;
    *cell = head;
    return VLT_OK;
  }
  // The last free cell: chain a new block before handing it out, so the list never runs dry.
  CellBlock* fresh = nullptr;
  const VltStatus s = i_allocateMemoryBlock(state, &fresh, first->cellSize, first->cellCount, first->heapManager);
  if (s != VLT_OK) {
    *cell = nullptr;
    return s;
  }
  fresh->nextBlock = first->nextBlock;
  first->nextBlock = fresh;
  first->freeHead = fresh->freeHead;
  fresh->freeHead = nullptr;
  *cell = head;
  return VLT_OK;
}

VltStatus i_freeStruct(IPState* state, CellBlock* first, void** cell) {
  if (!first || !cell) return IP_FAIL(state, VLT_ERR_NULL);
  if (!*cell) return VLT_OK;
  store_link(*cell, first->freeHead);
  first->freeHead = *cell;
  *cell = nullptr;
  return VLT_OK;
}

VltStatus i_freeAllMemoryBlocks(IPState* state, CellBlock** first) {
  if (!first) return IP_FAIL(state, VLT_ERR_NULL);
  CellBlock* b = *first;
  HeapManager* manager = b ? b->heapManager : nullptr;
  while (b) {
    CellBlock* next = b->nextBlock;
    i_hm_free(b, manager);
    b = next;
  }
  *first = nullptr;
  return VLT_OK;
}

}  // extern "C"
