// capstamp: removes from the configuration store every device-detail row named
// "jbig-lossy-compression" and, with an argument beginning with 'I', adds it again, so that the
// device announces the lossy JBIG2 capability; then saves the store's object space.
//
// The exit status is 0 whatever happens; failures are told on the standard error stream.

#include <cstdint>
#include <cstdio>
#include <string>

#include "byteorder.h"
#include "cfgkeep.h"
#include "machctl.h"
#include "objax.h"
#include "safe_output.h"

namespace {

const std::string objName = "jbig-lossy-compression";

// Identifiers of the schema's names, asked for on first use; a lookup that found nothing is
// asked again the next time.
xid_t val_OID_OC_VKD_HR_DEV_DETAIL;
xid_t val_OID_ATT_VKD_HR_DEV_DETAIL_IDENTIFIER;
xid_t val_OID_ATT_HR_DEVICE_IDENTIFIER;
xid_t val_OID_ATT_VKD_HR_DEV_DETAIL_TYPE;
xid_t val_OID_ATT_VKD_HR_DEV_DETAIL_INDEX;
xid_t val_OID_ATT_VKD_HR_DEV_DETAIL_ROW_STATUS;
xid_t val_OID_ATT_VKD_HR_DEV_DETAIL_UNIT_CLASS;
xid_t val_OID_ATT_VKD_HR_DEV_DETAIL_UNIT;
xid_t val_OID_ATT_VKD_HR_DEV_DETAIL_VALUE_INTEGER;
xid_t val_OID_ATT_VKD_HR_DEV_DETAIL_HR_DEVICE;
xid_t val_OID_ATT_VKD_HR_DEV_DETAIL_VALUE_STRING;
xid_t val_OID_ATT_VKD_HR_DEV_DETAIL_VALUE_OID;

xid_t cached(xid_t* cache, const char* name) {
  if (*cache == 0) *cache = oa_xid_of(name);
  return *cache;
}

#define XID(name) cached(&val_##name, #name)

void report(const std::string& what) {
  const char* why = ds_last_error();
  std::fprintf(stderr, "capstamp: %s%s%s\n", what.c_str(), *why ? ": " : "", why);
}

Ds_handle findExistingObject() {
  return oa_find_object_from_name(XID(OID_ATT_VKD_HR_DEV_DETAIL_IDENTIFIER), objName.c_str(),
                                  static_cast<int>(objName.size()) + 1);
}

Ds_handle findHrDeviceObjectPrinter() { return oa_find_object_from_name(XID(OID_ATT_HR_DEVICE_IDENTIFIER), "1", 2); }

void removeObjectIfItExists() {
  for (Ds_handle row; (row = findExistingObject()) != 0;) {
    // An object the store will not delete would be found again and again.
    if (oa_delete_object(XID(OID_OC_VKD_HR_DEV_DETAIL), row) != 0) {
      report("cannot remove object " + std::to_string(row) + " named " + objName);
      return;
    }
  }
}

Ds_handle addNewObject() {
  return oa_create_object(XID(OID_OC_VKD_HR_DEV_DETAIL), XID(OID_ATT_VKD_HR_DEV_DETAIL_IDENTIFIER), objName.c_str(), 2);
}

void append(Ds_handle row, xid_t attribute, const char* name, const void* value, uint16_t length) {
  if (ds_append_avp2(row, 1, attribute, 0, value, length) != 0) report(std::string("cannot append ") + name);
}

// A 32-bit value as the store keeps it, most significant byte first.
void append_word(Ds_handle row, xid_t attribute, const char* name, uint32_t value) {
  uint8_t bytes[4];
  mono::store_be32(bytes, value);
  append(row, attribute, name, bytes, sizeof bytes);
}

void append_text(Ds_handle row, xid_t attribute, const char* name, const char* text) {
  append(row, attribute, name, text, static_cast<uint16_t>(std::char_traits<char>::length(text) + 1));
}

#define APPEND_WORD(row, name, value) append_word(row, XID(name), #name, value)
#define APPEND_TEXT(row, name, text) append_text(row, XID(name), #name, text)

void install() {
  const Ds_handle row = addNewObject();
  if (row == 0) {
    report("cannot create the object " + objName);
    return;
  }
  APPEND_WORD(row, OID_ATT_VKD_HR_DEV_DETAIL_TYPE, 180);
  APPEND_WORD(row, OID_ATT_VKD_HR_DEV_DETAIL_INDEX, 38);
  APPEND_WORD(row, OID_ATT_VKD_HR_DEV_DETAIL_ROW_STATUS, 1);
  APPEND_WORD(row, OID_ATT_VKD_HR_DEV_DETAIL_UNIT_CLASS, 3);
  APPEND_WORD(row, OID_ATT_VKD_HR_DEV_DETAIL_UNIT, 8);
  APPEND_WORD(row, OID_ATT_VKD_HR_DEV_DETAIL_VALUE_INTEGER, 1);
  APPEND_WORD(row, OID_ATT_VKD_HR_DEV_DETAIL_HR_DEVICE, findHrDeviceObjectPrinter());
  APPEND_TEXT(row, OID_ATT_VKD_HR_DEV_DETAIL_VALUE_STRING, "");
  APPEND_TEXT(row, OID_ATT_VKD_HR_DEV_DETAIL_VALUE_OID, "0.0.0");
}

}  // namespace

int main(int argc, char** argv) {
  // An interrupted run leaves the store's file as it was, without a temporary file beside it.
  SafeOut_EndOnSignals("capstamp");
  const char* store = sc_get_env_var("CFGKEEP");
  // Saving after a failed attach would write an empty object space over the configuration.
  if (ds_attach(store, 0) != 0) {
    std::fprintf(stderr, "capstamp: cannot attach to the configuration store %s (%s); nothing is saved\n",
                 store ? store : "named by CFGKEEP", ds_last_error());
    return 0;
  }
  removeObjectIfItExists();
  if (argc == 2 && argv[1][0] == 'I') install();
  const char* path = oa_access_config_filename("DS_CURRENT_CONFIG");
  if (!path) {
    report("no file for DS_CURRENT_CONFIG; nothing is saved");
  } else if (oa_save_obj_space(path) != 0) {
    report(std::string("cannot save the configuration to ") + path);
  }
  return 0;
}
