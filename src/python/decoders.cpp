// `tarnu._decode(kind, data, option=None)`: the decoders of binary value data (src/decode) for `tarnu.decode`, which
// gives them typed names. Each core result becomes plain objects: dicts keyed by field name, lists, int, str,
// bytes, and times as dicts of the raw value, its state and a datetime (aware in UTC for instants, naive for the
// calendar forms, which Windows writes in local time).
#include <concepts>
#include <cstring>

#include "decode/execution.h"
#include "decode/guid_names.h"
#include "decode/mru.h"
#include "decode/reg_link.h"
#include "decode/resources.h"
#include "decode/sam.h"
#include "decode/security.h"
#include "decode/shell_items.h"
#include "decode/shim_cache.h"
#include "decode/system_values.h"
#include "python/binding.h"

namespace tarnu::py {
namespace {

using namespace tarnu::decode;

// A dict filled key by key; a failed value (nullptr) drops the dict, and `release` then gives nullptr with the
// exception set.
class Dict {
public:
    Dict() : dict_(PyDict_New()) {}
    ~Dict() { Py_XDECREF(dict_); }
    Dict(const Dict&) = delete;
    Dict& operator=(const Dict&) = delete;
    // Steals `value`.
    Dict& set(const char* key, PyObject* value) {
        if (dict_ != nullptr && value != nullptr && PyDict_SetItemString(dict_, key, value) == 0) {
            Py_DECREF(value);
            return *this;
        }
        Py_XDECREF(value);
        Py_CLEAR(dict_);
        return *this;
    }
    PyObject* release() {
        PyObject* out = dict_;
        dict_ = nullptr;
        return out;
    }

private:
    PyObject* dict_;
};

PyObject* none() { Py_RETURN_NONE; }

const char* state_name(TimeState state) {
    switch (state) {
        case TimeState::Set: return "set";
        case TimeState::NotSet: return "not set";
        case TimeState::Never: return "never";
        case TimeState::Invalid: return "invalid";
        case TimeState::Yearly: return "yearly";
    }
    return "invalid";
}

PyObject* py(bool value) { return PyBool_FromLong(value ? 1 : 0); }
template <std::integral T>
PyObject* py(T value) {
    if constexpr (std::is_signed_v<T>) return PyLong_FromLongLong(value);
    else return PyLong_FromUnsignedLongLong(value);
}
PyObject* py(float value) { return PyFloat_FromDouble(value); }
PyObject* py(const std::string& text) { return new_str(text); }
PyObject* py(const char* text) { return text ? PyUnicode_FromString(text) : none(); }
PyObject* py(const std::vector<uint8_t>& bytes) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<Py_ssize_t>(bytes.size()));
}
PyObject* py(const Sid& sid) { return new_str(sid_text(sid)); }

PyObject* py(const Instant& time) {
    return Dict()
        .set("raw", py(time.raw))
        .set("state", py(state_name(time.state)))
        .set("value", time.state == TimeState::Set ? new_utc_datetime(time.filetime) : none())
        .release();
}

PyObject* naive_datetime(const CalendarTime& t) {
    PyObject* module = PyImport_ImportModule("datetime");
    if (module == nullptr) return nullptr;
    PyObject* result = PyObject_CallMethod(module, "datetime", "iiiiiii", int{t.year}, int{t.month}, int{t.day},
                                           int{t.hour}, int{t.minute}, int{t.second}, int{t.milliseconds} * 1000);
    Py_DECREF(module);
    return result;
}

PyObject* py(const CalendarTime& t) {
    return Dict()
        .set("raw", new_list(t.raw, [](uint16_t v) { return py(v); }))
        .set("year", py(t.year))
        .set("month", py(t.month))
        .set("weekday", py(t.weekday))
        .set("day", py(t.day))
        .set("hour", py(t.hour))
        .set("minute", py(t.minute))
        .set("second", py(t.second))
        .set("milliseconds", py(t.milliseconds))
        .set("state", py(state_name(t.state)))
        .set("value", t.state == TimeState::Set ? naive_datetime(t) : none())
        .release();
}

// Every conversion, declared before the templates over optionals, vectors and arrays that call them.
PyObject* py(const Note& note);
PyObject* py(const Fields& fields);
PyObject* py(const Ace& ace);
PyObject* py(const Acl& acl);
PyObject* py(const SecurityDescriptor& sd);
PyObject* py(const ExtensionBlock& block);
PyObject* py(const ShellItem& item);
PyObject* py(const ShimEntry& e);
PyObject* py(const PartialResource& p);
PyObject* py(const FullResource& full);
PyObject* py(const Requirement& r);
PyObject* py(const Alternative& alt);
PyObject* py(const SamVPart& part);

template <typename T>
PyObject* py(const std::optional<T>& value) {
    return value ? py(*value) : none();
}

template <typename T>
PyObject* py(const std::vector<T>& items) {
    return new_list(items, [](const T& item) { return py(item); });
}

template <typename T, size_t N>
PyObject* py(const std::array<T, N>& items) {
    return new_list(items, [](const T& item) { return py(item); });
}

PyObject* py(const Note& note) {
    return Py_BuildValue("(nNN)", static_cast<Py_ssize_t>(note.offset), new_str(note.expected), new_str(note.found));
}

PyObject* py(const Fields& fields) {
    Dict dict;
    for (const Field& field : fields.items()) {
        dict.set(field.name, std::visit([](const auto& value) { return py(value); }, field.value));
    }
    return dict.release();
}

PyObject* py(const Ace& ace) {
    return Dict()
        .set("offset", py(ace.offset))
        .set("type", py(ace.type))
        .set("type_name", py(ace_type_token(ace.type)))
        .set("flags", py(ace.flags))
        .set("size", py(ace.size))
        .set("mask", py(ace.mask))
        .set("object_flags", py(ace.object_flags))
        .set("object_type", py(ace.object_type))
        .set("inherited_object_type", py(ace.inherited_object_type))
        .set("sid", py(ace.sid))
        .set("application_data", py(ace.application_data))
        .set("body", py(ace.body))
        .release();
}

PyObject* py(const Acl& acl) {
    return Dict()
        .set("offset", py(acl.offset))
        .set("revision", py(acl.revision))
        .set("size", py(acl.size))
        .set("ace_count", py(acl.count))
        .set("aces", py(acl.aces))
        .release();
}

PyObject* py(const SecurityDescriptor& sd) {
    return Dict()
        .set("revision", py(sd.revision))
        .set("sbz1", py(sd.sbz1))
        .set("control", py(sd.control))
        .set("owner", py(sd.owner))
        .set("group", py(sd.group))
        .set("dacl", py(sd.dacl))
        .set("sacl", py(sd.sacl))
        .set("sddl", py(sd.sddl))
        .set("sddl_standard", py(sd.sddl_standard))
        .set("notes", py(sd.notes))
        .release();
}

PyObject* py(const ExtensionBlock& block) {
    return Dict()
        .set("offset", py(block.offset))
        .set("size", py(block.size))
        .set("version", py(block.version))
        .set("signature", py(block.signature))
        .set("fields", py(block.fields))
        .release();
}

PyObject* py(const ShellItem& item) {
    return Dict()
        .set("offset", py(item.offset))
        .set("size", py(item.size))
        .set("class_type", py(item.class_type))
        .set("kind", py(item.kind))
        .set("name", py(item.name))
        .set("fields", py(item.fields))
        .set("extension_blocks", py(item.blocks))
        .release();
}

PyObject* py(const ShimEntry& e) {
    return Dict()
        .set("offset", py(e.offset))
        .set("path", py(e.path))
        .set("modified", py(e.modified))
        .set("file_size", py(e.file_size))
        .set("last_update", py(e.last_update))
        .set("insertion_flags", py(e.insertion_flags))
        .set("shim_flags", py(e.shim_flags))
        .set("executed", py(e.executed))
        .set("data", py(e.data))
        .release();
}

PyObject* py(const PartialResource& p) {
    return Dict()
        .set("offset", py(p.offset))
        .set("type", py(p.type))
        .set("share_disposition", py(p.share_disposition))
        .set("flags", py(p.flags))
        .set("fields", py(p.fields))
        .release();
}

PyObject* py(const FullResource& full) {
    return Dict()
        .set("offset", py(full.offset))
        .set("interface_type", py(full.interface_type))
        .set("interface_name", py(interface_type_name(full.interface_type)))
        .set("bus_number", py(full.bus_number))
        .set("version", py(full.version))
        .set("revision", py(full.revision))
        .set("partial_count", py(full.count))
        .set("partials", py(full.partials))
        .release();
}

PyObject* py(const Requirement& r) {
    return Dict()
        .set("offset", py(r.offset))
        .set("option", py(r.option))
        .set("type", py(r.type))
        .set("share_disposition", py(r.share_disposition))
        .set("flags", py(r.flags))
        .set("fields", py(r.fields))
        .release();
}

PyObject* py(const Alternative& alt) {
    return Dict()
        .set("offset", py(alt.offset))
        .set("version", py(alt.version))
        .set("revision", py(alt.revision))
        .set("descriptor_count", py(alt.count))
        .set("descriptors", py(alt.descriptors))
        .release();
}

PyObject* py(const SamVPart& part) {
    return Dict().set("offset", py(part.offset)).set("length", py(part.length)).set("data", py(part.data)).release();
}

// ---- One function per kind -----------------------------------------------------------------------------------

PyObject* decode_time(Bytes data, PyObject* option, const std::string& kind) {
    const Py_ssize_t offset = option == nullptr || option == Py_None ? 0 : PyLong_AsSsize_t(option);
    if (offset == -1 && PyErr_Occurred()) return nullptr;
    if (offset < 0) {
        PyErr_SetString(PyExc_ValueError, "argument 'offset': expected an offset of 0 or more");
        return nullptr;
    }
    const size_t at = static_cast<size_t>(offset);
    if (kind == "filetime") return py(filetime_at(data, at));
    if (kind == "fat_time") return py(fat_time_at(data, at));
    if (kind == "unix_time32") return py(unix_time_at(data, at, 4));
    if (kind == "unix_time64") return py(unix_time_at(data, at, 8));
    if (kind == "systemtime") return py(systemtime_at(data, at));
    if (kind == "time_fields") return py(time_fields_at(data, at));
    if (kind == "guid") return at <= data.size() && data.size() - at >= kGuidSize ? py(guid_text(data, at)) : none();
    return nullptr;
}

// The names of an MRU key's values: a list of str, or None.
bool names_option(PyObject* option, std::optional<std::vector<std::string>>& names) {
    if (option == nullptr || option == Py_None) return true;
    PyObject* items = PySequence_List(option);
    if (items == nullptr) return false;
    names.emplace();
    for (Py_ssize_t i = 0; i < PyList_Size(items); ++i) {
        std::string name;
        if (!text_argument("names", PyList_GetItem(items, i), name)) {
            Py_DECREF(items);
            return false;
        }
        names->push_back(std::move(name));
    }
    Py_DECREF(items);
    return true;
}

PyObject* py(const MruOrder& order) {
    return Dict()
        .set("ranked", py(order.ranked))
        .set("unranked", py(order.unranked))
        .set("notes", py(order.notes))
        .release();
}

PyObject* decode_records(Bytes data, const std::string& kind, PyObject* option) {
    if (kind == "security_descriptor") return py(parse_security_descriptor(data));
    if (kind == "sid") {
        Notes notes;
        Reader in(data, notes);
        const auto sid = parse_sid(in, 0, "a SID");
        return sid ? py(*sid) : none();
    }
    if (kind == "shell_items") {
        const ShellItemList list = parse_shell_items(data);
        return Dict().set("items", py(list.items)).set("path", py(list.path)).set("notes", py(list.notes)).release();
    }
    if (kind == "appcompatcache") {
        const ShimCache c = parse_shim_cache(data);
        return Dict()
            .set("layout", py(c.layout))
            .set("signature", py(c.signature))
            .set("header_count", py(c.header_count))
            .set("entries", py(c.entries))
            .set("head", py(c.head))
            .set("notes", py(c.notes))
            .release();
    }
    if (kind == "resource_list" || kind == "full_resource_descriptor") {
        const ResourceList list = parse_resource_list(data, kind == "resource_list");
        return Dict()
            .set("lists", py(list.lists))
            .set("partial_size", py(list.partial_size))
            .set("notes", py(list.notes))
            .release();
    }
    if (kind == "requirements_list") {
        const RequirementsList list = parse_requirements_list(data);
        return Dict()
            .set("list_size", py(list.list_size))
            .set("interface_type", py(list.interface_type))
            .set("interface_name", py(interface_type_name(list.interface_type)))
            .set("bus_number", py(list.bus_number))
            .set("slot_number", py(list.slot_number))
            .set("alternative_count", py(list.alternative_count))
            .set("alternatives", py(list.alternatives))
            .set("notes", py(list.notes))
            .release();
    }
    if (kind == "reg_link") {
        const RegLink link = parse_reg_link(data);
        return Dict().set("target", py(link.target)).set("short_path", py(link.short_path)).release();
    }
    if (kind == "mru_list" || kind == "mru_list_ex") {
        std::optional<std::vector<std::string>> names;
        if (!names_option(option, names)) return nullptr;
        return py(kind == "mru_list" ? mru_list(std::string(data.begin(), data.end()), names)
                                     : mru_list_ex(data, names));
    }
    if (kind == "userassist") {
        const long version = option == nullptr || option == Py_None ? 0 : PyLong_AsLong(option);
        if (version == -1 && PyErr_Occurred()) return nullptr;
        const UserAssistEntry e = parse_userassist(data, version == 3 || version == 5 ? unsigned(version) : 0);
        return Dict()
            .set("version", py(e.version))
            .set("session", py(e.session))
            .set("run_count", py(e.run_count))
            .set("focus_count", py(e.focus_count))
            .set("focus_time_ms", py(e.focus_time_ms))
            .set("scores", py(e.scores))
            .set("score_index", py(e.score_index))
            .set("last_run", py(e.last_run))
            .set("notes", py(e.notes))
            .release();
    }
    if (kind == "bam") {
        const BamEntry e = parse_bam(data);
        return Dict()
            .set("last_run", py(e.last_run))
            .set("packaged", py(e.packaged))
            .set("version", py(e.version))
            .set("rest", py(e.rest))
            .set("notes", py(e.notes))
            .release();
    }
    if (kind == "startup_approved") {
        const StartupApproved s = parse_startup_approved(data);
        return Dict().set("state", py(s.state)).set("changed", py(s.changed)).set("notes", py(s.notes)).release();
    }
    if (kind == "dynamic_info") {
        const DynamicInfo i = parse_dynamic_info(data);
        return Dict()
            .set("version", py(i.version))
            .set("created", py(i.created))
            .set("last_run", py(i.last_run))
            .set("state", py(i.state))
            .set("last_result", py(i.last_result))
            .set("last_completed", py(i.last_completed))
            .set("notes", py(i.notes))
            .release();
    }
    if (kind == "sam_f") {
        const SamF f = parse_sam_f(data);
        return Dict()
            .set("major", py(f.major))
            .set("minor", py(f.minor))
            .set("last_logon", py(f.last_logon))
            .set("last_logoff", py(f.last_logoff))
            .set("password_last_set", py(f.password_last_set))
            .set("account_expires", py(f.account_expires))
            .set("last_failed_logon", py(f.last_failed_logon))
            .set("rid", py(f.rid))
            .set("primary_group_rid", py(f.primary_group_rid))
            .set("account_control", py(f.account_control))
            .set("account_control_names", f.account_control ? py(account_control_names(*f.account_control))
                                                             : PyList_New(0))
            .set("country_code", py(f.country_code))
            .set("code_page", py(f.code_page))
            .set("bad_password_count", py(f.bad_password_count))
            .set("logon_count", py(f.logon_count))
            .set("notes", py(f.notes))
            .release();
    }
    if (kind == "sam_v") {
        const SamV v = parse_sam_v(data);
        return Dict()
            .set("user_name", py(v.user_name))
            .set("full_name", py(v.full_name))
            .set("comment", py(v.comment))
            .set("user_comment", py(v.user_comment))
            .set("home_directory", py(v.home_directory))
            .set("home_drive", py(v.home_drive))
            .set("script_path", py(v.script_path))
            .set("profile_path", py(v.profile_path))
            .set("workstations", py(v.workstations))
            .set("security", py(v.security))
            .set("parts", py(v.parts))
            .set("notes", py(v.notes))
            .release();
    }
    if (kind == "machine_sid") return py(machine_sid(data));
    if (kind == "tzi") {
        const TimeZoneInfo t = parse_tzi(data);
        return Dict()
            .set("bias", py(t.bias))
            .set("standard_bias", py(t.standard_bias))
            .set("daylight_bias", py(t.daylight_bias))
            .set("standard_date", py(t.standard_date))
            .set("daylight_date", py(t.daylight_date))
            .set("notes", py(t.notes))
            .release();
    }
    if (kind == "mounted_device") {
        const MountedDevice m = parse_mounted_device(data);
        return Dict()
            .set("kind", py(m.kind))
            .set("disk_signature", py(m.disk_signature))
            .set("partition_offset", py(m.partition_offset))
            .set("partition_guid", py(m.partition_guid))
            .set("path", py(m.path))
            .release();
    }
    return decode_time(data, option, kind);
}

// Lookups by text rather than by bytes.
PyObject* decode_text(const std::string& kind, const std::string& text) {
    if (kind == "rot13") return py(rot13(text));
    if (kind == "sid_name") return py(sid_name(text));
    if (kind == "guid_name") {
        const char* name = shell_folder_name(text);
        return py(name ? name : known_folder_path(text));
    }
    return nullptr;
}

bool is_text_kind(const std::string& kind) { return kind == "rot13" || kind == "sid_name" || kind == "guid_name"; }

PyObject* decode_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[3];
        std::string kind;
        if (!parse_arguments("_decode", args, kwargs, {"kind", "data", "option"}, 2, argv)) return nullptr;
        if (!text_argument("kind", argv[0], kind)) return nullptr;
        PyObject* result = nullptr;
        if (is_text_kind(kind)) {
            std::string text;
            if (!text_argument("data", argv[1], text)) return nullptr;
            result = decode_text(kind, text);
        } else {
            ByteBuffer data;
            if (!bytes_argument("data", argv[1], data)) return nullptr;
            result = decode_records(Bytes(data.data(), data.size()), kind, argv[2]);
        }
        if (result == nullptr && !PyErr_Occurred()) {
            PyErr_Format(PyExc_ValueError, "argument 'kind': no decoder named '%s'", kind.c_str());
        }
        return result;
    });
}

PyMethodDef decode_definition = {
    "_decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(decode_function)),
    METH_VARARGS | METH_KEYWORDS,
    "_decode(kind, data, option=None)\n--\n\nDecode binary value data of one kind into plain objects (dicts, lists, "
    "int, str, bytes, datetime); the typed interface is tarnu.decode"};

}  // namespace

bool add_decoders(PyObject* module) {
    PyObject* module_name = PyModule_GetNameObject(module);
    PyObject* function = module_name != nullptr ? PyCFunction_NewEx(&decode_definition, nullptr, module_name) : nullptr;
    Py_XDECREF(module_name);
    const bool ok = function != nullptr && PyObject_SetAttrString(module, "_decode", function) == 0;
    Py_XDECREF(function);
    return ok;
}

}  // namespace tarnu::py
