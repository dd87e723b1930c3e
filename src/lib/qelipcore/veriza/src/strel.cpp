// Structuring elements and the manager of the predefined elements.

#include "strel.h"

#include <cstdint>
#include <span>

namespace {

// ---- Predefined elements ------------------------------------------------------------------

struct Cell {
  uint8_t x, y;
};

enum class Rule : uint8_t { Listed, Border, Lattice };

// Cells of one value: a list, every border cell, or every cell whose x and y are multiples of
// the steps.
struct CellSet {
  Rule rule;
  uint8_t stepX, stepY;
  std::span<const Cell> cells;
};

constexpr CellSet kNone{Rule::Listed, 0, 0, {}};
constexpr CellSet kBorder{Rule::Border, 0, 0, {}};
constexpr CellSet lattice(uint8_t sx, uint8_t sy) { return {Rule::Lattice, sx, sy, {}}; }
constexpr CellSet listed(std::span<const Cell> cells) { return {Rule::Listed, 0, 0, cells}; }

struct Patterned {
  uint8_t id, width, height, centerX, centerY;
  CellSet hits, misses;
};

// Line lengths of the solid lines 1-38, one per horizontal/vertical pair.
constexpr uint8_t kLineLengths[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, 19, 20, 25, 30, 35, 40, 45, 50};
static_assert(std::size(kLineLengths) * 2 == 38);
constexpr uint32_t kFirstSquareId = 39, kLastSquareId = 43;
// The vertical line of 19 has its origin one row below the middle.
constexpr uint32_t kOffCentreLineId = 24;
constexpr int32_t kOffCentreLineRow = 10;

constexpr Cell k44Hits[] = {{1, 0}, {0, 1}};
constexpr Cell k45Hits[] = {{0, 0}, {1, 1}};
constexpr Cell k46Hits[] = {{1, 1}};
constexpr Cell k50Misses[] = {{1, 1}};
constexpr Cell k54Hits[] = {{3, 0}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {1, 2}, {6, 2}, {0, 3}, {1, 3}, {3, 3}, {6, 3}, {0, 4}, {1, 4}, {6, 4}, {3, 6}, {4, 6}};
constexpr Cell k55Hits[] = {{0, 4}, {2, 4}, {4, 4}, {6, 4}, {8, 4}};
constexpr Cell k55Misses[] = {{0, 0}, {4, 0}, {8, 0}, {0, 8}, {4, 8}, {8, 8}};
constexpr Cell k56Hits[] = {{4, 0}, {4, 2}, {4, 4}, {4, 6}, {4, 8}};
constexpr Cell k56Misses[] = {{0, 0}, {8, 0}, {0, 4}, {8, 4}, {0, 8}, {8, 8}};
constexpr Cell k59Hits[] = {{1, 2}, {2, 2}};
constexpr Cell k59Misses[] = {{1, 0}, {0, 1}};
constexpr Cell k60Hits[] = {{5, 0}, {4, 3}, {3, 6}, {2, 9}};
constexpr Cell k60Misses[] = {{3, 0}, {2, 3}, {1, 6}, {0, 9}};
constexpr Cell k61Hits[] = {{0, 1}, {1, 1}, {2, 1}, {3, 1}};
constexpr Cell k61Misses[] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {4, 1}};
constexpr Cell k62Hits[] = {{1, 1}, {1, 2}, {1, 3}, {1, 4}};
constexpr Cell k62Misses[] = {{0, 0}, {1, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}};
constexpr Cell k63Misses[] = {{4, 0}, {4, 5}, {4, 10}, {4, 15}, {4, 20}};
constexpr Cell k65Hits[] = {{4, 0}, {5, 0}, {6, 0}, {0, 1}, {8, 2}, {0, 5}, {8, 5}, {0, 6}, {0, 7}, {0, 8}, {1, 8}, {4, 9}, {6, 9}, {0, 10}, {0, 12}, {0, 15}, {8, 15}, {9, 15}};
constexpr Cell k65Misses[] = {{4, 3}, {4, 4}, {5, 12}, {6, 12}, {5, 13}};
constexpr Cell k66Hits[] = {{0, 0}, {3, 0}, {4, 0}, {6, 0}, {8, 0}, {11, 0}, {15, 0}, {15, 3}, {6, 4}, {15, 4}, {15, 5}, {6, 6}, {0, 8}, {8, 8}, {15, 8}, {0, 9}, {11, 9}, {12, 9}};
constexpr Cell k66Misses[] = {{11, 4}, {12, 4}, {2, 5}, {3, 5}, {3, 6}};
constexpr Cell k67Hits[] = {{3, 0}, {4, 0}, {15, 0}, {0, 1}, {7, 1}, {15, 1}, {9, 3}, {0, 4}, {0, 5}, {9, 5}, {0, 6}, {15, 8}, {0, 9}, {4, 9}, {7, 9}, {9, 9}, {12, 9}, {15, 9}};
constexpr Cell k67Misses[] = {{12, 3}, {12, 4}, {13, 4}, {3, 5}, {4, 5}};
constexpr Cell k68Hits[] = {{0, 0}, {1, 0}, {9, 0}, {9, 3}, {9, 5}, {3, 6}, {5, 6}, {8, 7}, {9, 7}, {9, 8}, {9, 9}, {1, 10}, {9, 10}, {1, 13}, {9, 14}, {3, 15}, {4, 15}, {5, 15}};
constexpr Cell k68Misses[] = {{4, 2}, {3, 3}, {4, 3}, {5, 11}, {5, 12}};
constexpr Cell k69Hits[] = {{7, 0}, {11, 0}, {14, 3}, {0, 4}, {14, 7}, {0, 8}, {14, 11}, {0, 12}, {7, 13}, {11, 13}, {0, 16}, {0, 21}, {15, 22}, {0, 24}, {13, 24}};
constexpr Cell k69Misses[] = {{7, 5}, {7, 8}, {11, 18}, {8, 19}, {7, 22}};
constexpr Cell k70Hits[] = {{0, 0}, {3, 0}, {5, 0}, {6, 0}, {12, 0}, {14, 0}, {17, 0}, {19, 0}, {23, 0}, {12, 1}, {23, 4}, {12, 6}, {23, 6}, {23, 7}, {9, 9}, {12, 9}, {14, 11}, {0, 12}, {23, 12}, {0, 14}, {3, 14}, {17, 14}, {19, 14}};
constexpr Cell k70Misses[] = {{17, 6}, {19, 6}, {3, 7}, {5, 7}, {5, 9}};
constexpr Cell k71Hits[] = {{0, 0}, {4, 0}, {6, 0}, {20, 0}, {23, 0}, {23, 1}, {9, 3}, {10, 4}, {0, 6}, {0, 7}, {10, 7}, {0, 9}, {10, 13}, {0, 14}, {4, 14}, {6, 14}, {9, 14}, {10, 14}, {14, 14}, {17, 14}, {18, 14}, {20, 14}, {23, 14}};
constexpr Cell k71Misses[] = {{18, 4}, {18, 6}, {20, 6}, {4, 7}, {6, 7}};
constexpr Cell k72Hits[] = {{2, 0}, {15, 0}, {0, 2}, {15, 3}, {15, 8}, {4, 11}, {8, 11}, {15, 12}, {1, 13}, {15, 16}, {1, 17}, {0, 20}, {1, 21}, {4, 24}, {8, 24}};
constexpr Cell k72Misses[] = {{8, 2}, {7, 5}, {4, 6}, {8, 16}, {8, 19}};
constexpr Cell k73Hits[] = {{1, 1}, {2, 1}};
constexpr Cell k74Hits[] = {{1, 1}, {1, 2}};

constexpr Patterned kPatterned[] = {
    {44, 2, 2, 0, 0, listed(k44Hits), kNone},
    {45, 2, 2, 0, 0, listed(k45Hits), kNone},
    {46, 3, 3, 1, 1, listed(k46Hits), kBorder},
    {47, 4, 4, 1, 1, kNone, kBorder},
    {48, 5, 5, 2, 2, kNone, kBorder},
    {49, 6, 6, 2, 2, kNone, kBorder},
    {50, 3, 3, 1, 1, kBorder, listed(k50Misses)},
    {51, 4, 4, 1, 1, kBorder, kNone},
    {52, 5, 5, 2, 2, kBorder, kNone},
    {53, 5, 5, 2, 2, lattice(2, 2), kNone},
    {54, 7, 7, 3, 3, listed(k54Hits), kNone},
    {55, 9, 9, 4, 4, listed(k55Hits), listed(k55Misses)},
    {56, 9, 9, 4, 4, listed(k56Hits), listed(k56Misses)},
    {57, 40, 1, 19, 0, lattice(3, 1), kNone},
    {58, 1, 40, 0, 19, lattice(1, 3), kNone},
    {59, 3, 3, 1, 1, listed(k59Hits), listed(k59Misses)},
    {60, 6, 10, 3, 5, listed(k60Hits), listed(k60Misses)},
    {61, 5, 2, 2, 1, listed(k61Hits), listed(k61Misses)},
    {62, 2, 5, 1, 1, listed(k62Hits), listed(k62Misses)},
    {63, 5, 21, 4, 10, lattice(5, 2), listed(k63Misses)},
    {64, 2, 2, 0, 0, kNone, kNone},
    {65, 10, 16, 5, 8, listed(k65Hits), listed(k65Misses)},
    {66, 16, 10, 8, 5, listed(k66Hits), listed(k66Misses)},
    {67, 16, 10, 8, 5, listed(k67Hits), listed(k67Misses)},
    {68, 10, 16, 5, 8, listed(k68Hits), listed(k68Misses)},
    {69, 16, 25, 7, 12, listed(k69Hits), listed(k69Misses)},
    {70, 24, 15, 12, 7, listed(k70Hits), listed(k70Misses)},
    {71, 24, 15, 12, 7, listed(k71Hits), listed(k71Misses)},
    {72, 16, 25, 7, 12, listed(k72Hits), listed(k72Misses)},
    {73, 4, 3, 1, 1, listed(k73Hits), kBorder},
    {74, 3, 4, 1, 1, listed(k74Hits), kBorder},
};
static_assert(std::size(kPatterned) == STREL_LAST_ID - kLastSquareId);

constexpr bool table_is_consistent() {
  for (size_t i = 0; i < std::size(kPatterned); ++i) {
    const Patterned& p = kPatterned[i];
    if (p.id != kLastSquareId + 1 + i || p.centerX >= p.width || p.centerY >= p.height) return false;
    for (const CellSet* set : {&p.hits, &p.misses})
      for (const Cell& c : set->cells)
        if (c.x >= p.width || c.y >= p.height) return false;
  }
  return true;
}
static_assert(table_is_consistent());

// ---- Element helpers -----------------------------------------------------------------------

void free_rows(IPWState* state, int16_t** rows, int32_t count) {
  for (int32_t y = 0; y < count; ++y) wp_release(state, rows[y]);
  wp_release(state, rows);
}

bool in_element(const strel* e, int32_t x, int32_t y) {
  return x >= 0 && x < e->width && y >= 0 && y < e->height;
}

void fill_cells(strel* e, const CellSet& set, int16_t value) {
  switch (set.rule) {
    case Rule::Listed:
      for (const Cell& c : set.cells) e->cells[c.y][c.x] = value;
      break;
    case Rule::Border:
      for (int32_t y = 0; y < e->height; ++y)
        for (int32_t x = 0; x < e->width; ++x)
          if (y == 0 || y == e->height - 1 || x == 0 || x == e->width - 1) e->cells[y][x] = value;
      break;
    case Rule::Lattice:
      for (int32_t y = 0; y < e->height; y += set.stepY)
        for (int32_t x = 0; x < e->width; x += set.stepX) e->cells[y][x] = value;
      break;
  }
}

VltStatus build_predefined(IPWState* state, uint32_t id, strel** place) {
  if (id <= 2 * std::size(kLineLengths)) {
    const int32_t n = kLineLengths[(id - 1) / 2];
    const bool horizontal = id % 2 == 1;
    if (VltStatus st = w_makeSolidCenterStrel(state, horizontal ? n : 1, horizontal ? 1 : n, place))
      return W_FAIL(state, st);
    if (id == kOffCentreLineId) (*place)->centerY = kOffCentreLineRow;
    return VLT_OK;
  }
  if (id <= kLastSquareId) {
    const int32_t side = static_cast<int32_t>(id - kFirstSquareId + 1);
    if (VltStatus st = w_makeSolidCenterStrel(state, side, side, place)) return W_FAIL(state, st);
    return VLT_OK;
  }
  const Patterned& p = kPatterned[id - kLastSquareId - 1];
  if (VltStatus st = w_createStrel(state, p.width, p.height, place)) return W_FAIL(state, st);
  strel* e = *place;
  e->centerX = p.centerX;
  e->centerY = p.centerY;
  fill_cells(e, p.hits, STREL_HIT);
  fill_cells(e, p.misses, STREL_MISS);
  return VLT_OK;
}

VltStatus state_manager(IPWState* state, StrelMgr** mgr) {
  void* info = nullptr;
  if (VltStatus st = w_IPWStateGetStrelInfo(state, &info)) return W_FAIL(state, st);
  *mgr = static_cast<StrelMgr*>(info);
  return VLT_OK;
}

}  // namespace

// ---- Elements ------------------------------------------------------------------------------

VltStatus w_matrix(IPWState* state, int32_t width, int32_t height, int16_t*** place) {
  if (state == nullptr) return VLT_ERR_NOMEM;
  if (place == nullptr) return W_FAIL(state, VLT_ERR_NULL);
  if (width < 1 || height < 1) return W_FAIL(state, VLT_ERR_PARAM);
  auto** rows = static_cast<int16_t**>(wp_allocZeroed(state, static_cast<size_t>(height), sizeof(int16_t*)));
  if (rows == nullptr) return W_FAIL(state, VLT_ERR_NOMEM);
  for (int32_t y = 0; y < height; ++y) {
    rows[y] = static_cast<int16_t*>(wp_allocZeroed(state, static_cast<size_t>(width), sizeof(int16_t)));
    if (rows[y] == nullptr) {
      free_rows(state, rows, y);
      return W_FAIL(state, VLT_ERR_NOMEM);
    }
  }
  *place = rows;
  return VLT_OK;
}

VltStatus w_createStrel(IPWState* state, int32_t width, int32_t height, strel** place) {
  if (place == nullptr) return W_FAIL(state, VLT_ERR_NULL);
  *place = nullptr;
  if (state == nullptr) return VLT_ERR_NOMEM;
  // An empty element would make every later cell access and morphology pass meaningless.
  if (width < 1 || height < 1) return W_FAIL(state, VLT_ERR_PARAM);
  auto* e = static_cast<strel*>(wp_allocZeroed(state, 1, sizeof(strel)));
  if (e == nullptr) return W_FAIL(state, VLT_ERR_NOMEM);
  if (VltStatus st = w_matrix(state, width, height, &e->cells)) {
    wp_release(state, e);
    return W_FAIL(state, st);
  }
  e->width = width;
  e->height = height;
  e->id = STREL_UNMANAGED_ID;
  e->generate = 1;
  *place = e;
  return VLT_OK;
}

VltStatus w_strelCacheFree(IPWState* state, strel* element) {
  if (element == nullptr) return W_FAIL(state, VLT_ERR_NULL);
  void** programs[] = {&element->erodeProgram, &element->longErodeProgram, &element->dilateProgram,
                       &element->longDilateProgram};
  for (void** p : programs) {
    if (*p == nullptr) continue;
    if (state == nullptr) return VLT_ERR_NULL_IPWSTATE;
    wp_release(state, *p);
    *p = nullptr;
  }
  return VLT_OK;
}

VltStatus w_destroyStrel(IPWState* state, strel** place) {
  if (place == nullptr || *place == nullptr) return VLT_OK;
  if (state == nullptr) return VLT_ERR_NULL_IPWSTATE;
  strel* e = *place;
  if (VltStatus st = w_strelCacheFree(state, e)) return W_FAIL(state, st);
  free_rows(state, e->cells, e->height);
  wp_release(state, e);
  *place = nullptr;
  return VLT_OK;
}

VltStatus w_strelSetPoint(IPWState* state, int32_t x, int32_t y, int32_t value, strel* element) {
  if (element == nullptr) return W_FAIL(state, VLT_ERR_NULL);
  if (!in_element(element, x, y)) return W_FAIL(state, VLT_ERR_IPC_BOUNDS);
  if (static_cast<uint32_t>(value) > STREL_MISS) return W_FAIL(state, VLT_ERR_PARAM);
  element->cells[y][x] = static_cast<int16_t>(value);
  if (VltStatus st = w_strelCacheFree(state, element)) return W_FAIL(state, st);
  return VLT_OK;
}

VltStatus w_strelGetPoint(IPWState* state, int32_t x, int32_t y, const strel* element, int32_t* place) {
  if (element == nullptr || place == nullptr) return W_FAIL(state, VLT_ERR_NULL);
  if (!in_element(element, x, y)) return W_FAIL(state, VLT_ERR_IPC_BOUNDS);
  *place = element->cells[y][x];
  return VLT_OK;
}

VltStatus w_strelSetCenter(IPWState* state, int32_t x, int32_t y, strel* element) {
  if (element == nullptr) return W_FAIL(state, VLT_ERR_NULL);
  if (!in_element(element, x, y)) return W_FAIL(state, VLT_ERR_IPC_BOUNDS);
  element->centerX = x;
  element->centerY = y;
  if (VltStatus st = w_strelCacheFree(state, element)) return W_FAIL(state, st);
  return VLT_OK;
}

VltStatus w_strelGetCenter(IPWState* state, const strel* element, int32_t* x, int32_t* y) {
  if (element == nullptr || x == nullptr || y == nullptr) return W_FAIL(state, VLT_ERR_NULL);
  *x = element->centerX;
  *y = element->centerY;
  return VLT_OK;
}

// ---- Builders ------------------------------------------------------------------------------

VltStatus w_makeSolidCenterStrel(IPWState* state, int32_t width, int32_t height, strel** place) {
  if (place == nullptr) return W_FAIL(state, VLT_ERR_NULL);
  if (*place != nullptr) return W_FAIL(state, VLT_ERR_PARAM);
  if (VltStatus st = w_createStrel(state, width, height, place)) return W_FAIL(state, st);
  strel* e = *place;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) e->cells[y][x] = STREL_HIT;
  e->centerX = (width - 1) / 2;
  e->centerY = (height - 1) / 2;
  return VLT_OK;
}

namespace {

// A rule of three hit cells two apart, with miss cells n steps to either side across it.
VltStatus make_rule(IPWState* state, int32_t n, bool horizontal, strel** place) {
  if (place == nullptr) return W_FAIL(state, VLT_ERR_NULL);
  if (*place != nullptr || n < 1 || n > (INT32_MAX - 1) / 2) return W_FAIL(state, VLT_ERR_PARAM);
  const int32_t across = 2 * n + 1;
  if (VltStatus st = w_createStrel(state, horizontal ? 5 : across, horizontal ? across : 5, place))
    return W_FAIL(state, st);
  strel* e = *place;
  for (int32_t along = 0; along <= 4; along += 2) {
    for (int32_t side : {0, n, 2 * n}) {
      const int16_t value = side == n ? STREL_HIT : STREL_MISS;
      if (horizontal)
        e->cells[side][along] = value;
      else
        e->cells[along][side] = value;
    }
  }
  e->centerX = horizontal ? 2 : n;
  e->centerY = horizontal ? n : 2;
  return VLT_OK;
}

}  // namespace

VltStatus w_createHorizRuleStrel(IPWState* state, int32_t n, strel** place) {
  return make_rule(state, n, true, place);
}

VltStatus w_createVertRuleStrel(IPWState* state, int32_t n, strel** place) {
  return make_rule(state, n, false, place);
}

// ---- Manager -------------------------------------------------------------------------------

VltStatus w_initStrelMgr(IPWState* state) {
  if (state == nullptr) return VLT_ERR_NULL_IPWSTATE;
  auto* mgr = static_cast<StrelMgr*>(wp_allocZeroed(state, 1, sizeof(StrelMgr)));
  if (mgr == nullptr) return W_FAIL(state, VLT_ERR_NOMEM);
  mgr->slots = static_cast<StrelSlot*>(wp_allocZeroed(state, STREL_SLOT_COUNT, sizeof(StrelSlot)));
  if (mgr->slots == nullptr) {
    wp_release(state, mgr);
    return W_FAIL(state, VLT_ERR_NOMEM);
  }
  if (VltStatus st = w_IPWStateSetStrelInfo(state, mgr)) {
    wp_release(state, mgr->slots);
    wp_release(state, mgr);
    return W_FAIL(state, st);
  }
  return VLT_OK;
}

VltStatus w_termStrelMgr(IPWState* state) {
  if (state == nullptr) return VLT_ERR_NULL_IPWSTATE;
  StrelMgr* mgr = nullptr;
  if (VltStatus st = state_manager(state, &mgr)) return W_FAIL(state, st);
  if (mgr == nullptr) return VLT_OK;
  if (VltStatus st = w_releaseAllStrels(state, mgr)) return W_FAIL(state, st);
  wp_release(state, mgr->slots);
  wp_release(state, mgr);
  if (VltStatus st = w_IPWStateSetStrelInfo(state, nullptr)) return W_FAIL(state, st);
  return VLT_OK;
}

VltStatus w_initStrelByName(IPWState* state, uint32_t id) {
  if (state == nullptr) return VLT_ERR_NULL_IPWSTATE;
  StrelMgr* mgr = nullptr;
  if (VltStatus st = state_manager(state, &mgr)) return W_FAIL(state, st);
  if (mgr == nullptr) return W_FAIL(state, VLT_ERR_STREL_NO_MANAGER);
  if (id < STREL_FIRST_ID || id > STREL_LAST_ID) return W_FAIL(state, VLT_ERR_PARAM);
  StrelSlot& slot = mgr->slots[id];
  if (slot.element != nullptr) {
    ++slot.refCount;
    return VLT_OK;
  }
  strel* e = nullptr;
  if (VltStatus st = build_predefined(state, id, &e)) return W_FAIL(state, st);
  e->id = id;
  slot.refCount = 1;
  slot.element = e;
  return VLT_OK;
}

VltStatus w_getStrel(IPWState* state, uint32_t id, strel** place) {
  if (state == nullptr) return VLT_ERR_NULL_IPWSTATE;
  StrelMgr* mgr = nullptr;
  if (VltStatus st = state_manager(state, &mgr)) return W_FAIL(state, st);
  if (mgr == nullptr) return W_FAIL(state, VLT_ERR_STREL_NO_MANAGER);
  if (place == nullptr) return W_FAIL(state, VLT_ERR_NULL);
  if (*place != nullptr) return W_FAIL(state, VLT_ERR_PARAM);
  if (id < STREL_FIRST_ID || id > STREL_UNMANAGED_ID) return W_FAIL(state, VLT_ERR_STREL_BAD_ID);
  if (mgr->slots[id].element == nullptr) return W_FAIL(state, VLT_ERR_STREL_EMPTY_SLOT);
  *place = mgr->slots[id].element;
  return VLT_OK;
}

VltStatus w_releaseStrelByName(IPWState* state, StrelMgr* mgr, uint32_t id) {
  if (state == nullptr) return VLT_ERR_NULL_IPWSTATE;
  if (mgr == nullptr)
    if (VltStatus st = state_manager(state, &mgr)) return W_FAIL(state, st);
  if (mgr == nullptr) return W_FAIL(state, VLT_ERR_STREL_NO_MANAGER);
  // The slot table has no row beyond the unmanaged id.
  if (id < STREL_FIRST_ID || id > STREL_UNMANAGED_ID) return W_FAIL(state, VLT_ERR_PARAM);
  StrelSlot& slot = mgr->slots[id];
  if (slot.refCount < 1) return W_FAIL(state, VLT_ERR_INTERNAL);
  if (--slot.refCount < 1) {
    if (VltStatus st = w_destroyStrel(state, &slot.element)) {
      ++slot.refCount;
      return W_FAIL(state, st);
    }
    slot.refCount = 0;
  }
  return VLT_OK;
}

VltStatus w_releaseAllStrels(IPWState* state, StrelMgr* mgr) {
  if (state == nullptr) return VLT_ERR_NULL_IPWSTATE;
  if (mgr == nullptr) return W_FAIL(state, VLT_ERR_STREL_NO_MANAGER);
  for (uint32_t id = STREL_FIRST_ID; id <= STREL_LAST_ID; ++id)
    for (int32_t n = mgr->slots[id].refCount; n > 0; --n)
      if (VltStatus st = w_releaseStrelByName(state, mgr, id)) return W_FAIL(state, st);
  return VLT_OK;
}
