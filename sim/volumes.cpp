// Storage of the simulated firmware: Simple File System and File protocol over
// in-memory trees with FAT's rules, Block I/O over memory, device paths and Device
// Path To Text.
#include "volumes.h"
#include "sim_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <stdexcept>

#include "handles.h"
#include "sim_internal.h"
#include "uefi/guids.h"

namespace sim {

namespace {

constexpr efi::Status kWarnDeleteFailure = 2;
constexpr uint64_t kFileInfoNameOffset = efi::kFileInfoNameOffset;
constexpr uint64_t kMaxNameUnits = 255;
constexpr uint64_t kMaxPathUnits = 32768;

// ------------------------------------------------------------------ text helpers

char16_t fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool same_name(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

// FAT long-name rules: 1..255 units, no control characters and none of " * / : < > ? \ |.
bool valid_name(const std::u16string& name) {
    if (name.empty() || name.size() > kMaxNameUnits) return false;
    if (name == u"." || name == u"..") return false;
    for (char16_t c : name) {
        if (c < 0x20) return false;
        if (std::u16string_view(u"\"*/:<>?\\|").find(c) != std::u16string_view::npos) return false;
    }
    return true;
}

std::vector<std::u16string> split_path(const std::u16string& path) {
    std::vector<std::u16string> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find(u'\\', i);
        if (j == std::u16string::npos) j = path.size();
        parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

// ------------------------------------------------------------------ the model

struct Node {
    std::u16string name;
    bool dir = false;
    std::string data;
    uint64_t attributes = 0;
    efi::Time create{}, access{}, modify{};
    std::vector<std::shared_ptr<Node>> children;
    Node* parent = nullptr;
    bool deleted = false;
    std::optional<uint64_t> reported_size;

    std::shared_ptr<Node> child(const std::u16string& n) const {
        for (auto& c : children)
            if (same_name(c->name, n)) return c;
        return nullptr;
    }
};

struct Injection {
    efi::Status status;
    int64_t after;
};

struct SimBlock;

struct SimVolume {
    VolumeId id = 0;
    efi::SimpleFileSystem sfs{};
    efi::Handle handle = nullptr;
    std::shared_ptr<Node> root;
    std::string label;
    bool read_only = false;
    uint64_t capacity = 0;
    int64_t write_countdown = -1;
    std::multimap<FileOp, Injection> injections;
    std::vector<uint8_t> path;
    BlockId block = -1;
    bool removed = false;
};

struct SimBlock {
    BlockId id = 0;
    efi::BlockIo io{};
    efi::BlockIoMedia media{};
    std::vector<uint8_t> data;
    std::vector<uint8_t> path;
    efi::Handle handle = nullptr;
    uint64_t reads = 0, writes = 0, flushes = 0;
};

struct OpenFile {
    efi::FileProtocol proto{};
    std::shared_ptr<Node> node;
    SimVolume* volume = nullptr;
    bool writable = false;
    uint64_t position = 0;
};

struct Storage {
    std::vector<std::unique_ptr<SimVolume>> volumes;
    std::vector<std::unique_ptr<SimBlock>> blocks;
    std::map<const efi::FileProtocol*, std::unique_ptr<OpenFile>> open;
    // Recently closed handles stay allocated, so that a call through one is counted as
    // misuse instead of reading freed memory.
    std::deque<std::unique_ptr<OpenFile>> closed;
    std::map<const efi::SimpleFileSystem*, SimVolume*> by_sfs;
    std::map<const efi::BlockIo*, SimBlock*> by_block_io;
    int64_t misuse = 0;
    std::map<FileOp, uint64_t> calls;
    efi::DevicePathToText to_text{};
    efi::Handle text_handle = nullptr;
};

Storage& storage() {
    SimFirmware* fw = SimFirmware::current();
    if (!fw) throw std::runtime_error("sim storage used without a SimFirmware");
    return fw->module_state<Storage>();
}

Storage& storage(SimFirmware& fw) { return fw.module_state<Storage>(); }

SimVolume& volume_of(SimFirmware& fw, VolumeId id) {
    auto& s = storage(fw);
    if (id < 0 || static_cast<size_t>(id) >= s.volumes.size())
        throw std::out_of_range("sim: no such volume");
    return *s.volumes[static_cast<size_t>(id)];
}

SimBlock& block_of(SimFirmware& fw, BlockId id) {
    auto& s = storage(fw);
    if (id < 0 || static_cast<size_t>(id) >= s.blocks.size())
        throw std::out_of_range("sim: no such block device");
    return *s.blocks[static_cast<size_t>(id)];
}

uint64_t used(const Node& n) {
    uint64_t total = n.dir ? 0 : n.data.size();
    for (auto& c : n.children) total += used(*c);
    return total;
}

uint64_t free_bytes(const SimVolume& v) {
    uint64_t u = used(*v.root);
    return u >= v.capacity ? 0 : v.capacity - u;
}

efi::Time now_time() {
    SimFirmware* fw = SimFirmware::current();
    efi::Time t = fw->wall_time();
    t.nanosecond = 0;
    return t;
}

bool is_zero_time(const efi::Time& t) {
    return t.year == 0 && t.month == 0 && t.day == 0 && t.hour == 0 && t.minute == 0 &&
           t.second == 0 && t.nanosecond == 0;
}

bool valid_time(const efi::Time& t) {
    return t.year >= 1980 && t.year <= 2107 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= 31 && t.hour < 24 && t.minute < 60 && t.second < 60;
}

// Returns the injected status for this call of op, if one is due.
bool injected(SimVolume& v, FileOp op, efi::Status* status) {
    storage().calls[op]++;
    auto range = v.injections.equal_range(op);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.after > 0) {
            it->second.after--;
            continue;
        }
        *status = it->second.status;
        v.injections.erase(it);
        return true;
    }
    return false;
}

constexpr size_t kClosedKept = 4096;

void retire(efi::FileProtocol* self) {
    auto& s = storage();
    auto it = s.open.find(self);
    if (it == s.open.end()) return;
    it->second->node.reset();
    s.closed.push_back(std::move(it->second));
    s.open.erase(it);
    if (s.closed.size() > kClosedKept) s.closed.pop_front();
}

OpenFile* lookup(efi::FileProtocol* self) {
    auto& s = storage();
    auto it = s.open.find(self);
    if (it == s.open.end()) {
        s.misuse++;
        return nullptr;
    }
    return it->second.get();
}

bool is_descendant(const Node* node, const Node* ancestor) {
    for (const Node* p = node; p; p = p->parent)
        if (p == ancestor) return true;
    return false;
}

uint64_t reported_size(const Node& n) {
    return n.reported_size ? *n.reported_size : (n.dir ? 0 : n.data.size());
}

uint64_t info_size(const Node& n) { return kFileInfoNameOffset + (n.name.size() + 1) * 2; }

void fill_info(const Node& n, void* buffer) {
    auto* info = static_cast<efi::FileInfo*>(buffer);
    std::memset(buffer, 0, kFileInfoNameOffset);
    info->size = info_size(n);
    info->file_size = reported_size(n);
    info->physical_size = (info->file_size + 511) / 512 * 512;
    info->create_time = n.create;
    info->last_access_time = n.access;
    info->modification_time = n.modify;
    info->attribute = n.attributes | (n.dir ? efi::kFileDirectory : 0);
    std::memcpy(info->file_name, n.name.c_str(), (n.name.size() + 1) * 2);
}

// ------------------------------------------------------------------ File protocol

efi::FileProtocol* new_open_file(std::shared_ptr<Node> node, SimVolume* v, bool writable);

efi::Status EFIAPI file_open(efi::FileProtocol* self, efi::FileProtocol** new_handle,
                             const efi::Char16* file_name, uint64_t mode, uint64_t attributes) {
    OpenFile* f = lookup(self);
    if (!f) return efi::kInvalidParameter;
    if (!new_handle || !file_name) return efi::kInvalidParameter;
    *new_handle = nullptr;
    efi::Status injected_status;
    if (injected(*f->volume, FileOp::Open, &injected_status)) return injected_status;
    const uint64_t r = efi::kFileModeRead, w = efi::kFileModeWrite, c = efi::kFileModeCreate;
    if (mode != r && mode != (r | w) && mode != (r | w | c)) return efi::kInvalidParameter;
    if (attributes & ~efi::kFileValidAttr) return efi::kInvalidParameter;
    std::u16string path;
    for (const char16_t* p = file_name; *p; p++) {
        if (path.size() >= kMaxPathUnits) return efi::kInvalidParameter;
        path.push_back(*p);
    }
    SimVolume& v = *f->volume;
    std::shared_ptr<Node> at;
    if (!path.empty() && path[0] == u'\\') {
        at = v.root;
        path.erase(0, 1);
    } else {
        if (!f->node->dir) return efi::kNotFound;
        at = f->node;
    }
    if (at->deleted) return efi::kNotFound;
    auto parts = split_path(path);
    for (size_t i = 0; i < parts.size(); i++) {
        const std::u16string& part = parts[i];
        bool last = i + 1 == parts.size();
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (!at->parent) return efi::kNotFound;
            // The parent's shared owner is its own parent's child list (or the root).
            Node* parent = at->parent;
            std::shared_ptr<Node> p = parent->parent ? parent->parent->child(parent->name) : v.root;
            if (!p) return efi::kNotFound;
            at = p;
            continue;
        }
        std::shared_ptr<Node> next = at->child(part);
        if (!next) {
            if (!last) return efi::kNotFound;
            if (!(mode & c)) return efi::kNotFound;
            if (v.read_only) return efi::kWriteProtected;
            if (!valid_name(part)) return efi::kInvalidParameter;
            auto node = std::make_shared<Node>();
            node->name = part;
            node->dir = (attributes & efi::kFileDirectory) != 0;
            node->attributes = (attributes & ~efi::kFileDirectory) |
                               (node->dir ? 0 : efi::kFileArchive);
            node->create = node->access = node->modify = now_time();
            node->parent = at.get();
            at->children.push_back(node);
            next = node;
        } else if (!next->dir && !last) {
            return efi::kNotFound;
        }
        at = next;
    }
    bool write = (mode & w) != 0;
    if (write && v.read_only) return efi::kWriteProtected;
    if (write && !at->dir && (at->attributes & efi::kFileReadOnly)) return efi::kAccessDenied;
    *new_handle = new_open_file(at, &v, write);
    return efi::kSuccess;
}

efi::Status EFIAPI file_close(efi::FileProtocol* self) {
    auto& s = storage();
    if (s.open.find(self) == s.open.end()) {
        s.misuse++;
        return efi::kInvalidParameter;
    }
    retire(self);
    return efi::kSuccess;
}

efi::Status EFIAPI file_delete(efi::FileProtocol* self) {
    OpenFile* f = lookup(self);
    if (!f) return efi::kInvalidParameter;
    std::shared_ptr<Node> node = f->node;
    SimVolume& v = *f->volume;
    bool writable = f->writable;
    retire(self);  // Delete always closes.
    efi::Status st;
    if (injected(v, FileOp::Delete, &st)) return st;
    if (v.read_only || !writable || !node->parent || node->deleted) return kWarnDeleteFailure;
    if (node->dir && !node->children.empty()) return kWarnDeleteFailure;
    auto& siblings = node->parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), node), siblings.end());
    node->deleted = true;
    node->parent = nullptr;
    return efi::kSuccess;
}

efi::Status EFIAPI file_read(efi::FileProtocol* self, uint64_t* buffer_size, void* buffer) {
    OpenFile* f = lookup(self);
    if (!f || !buffer_size) return efi::kInvalidParameter;
    efi::Status st;
    if (injected(*f->volume, FileOp::Read, &st)) return st;
    Node& n = *f->node;
    if (n.dir) {
        // "." and ".." first in every directory but the root, then the entries.
        uint64_t specials = n.parent ? 2 : 0;
        uint64_t index = f->position;
        if (index >= specials + n.children.size()) {
            *buffer_size = 0;
            return efi::kSuccess;
        }
        Node dot;
        const Node* entry;
        if (index < specials) {
            dot = n;
            dot.children.clear();
            dot.name = index == 0 ? u"." : u"..";
            dot.attributes = 0;
            entry = &dot;
        } else {
            entry = n.children[index - specials].get();
        }
        uint64_t need = info_size(*entry);
        if (*buffer_size < need) {
            *buffer_size = need;
            return efi::kBufferTooSmall;
        }
        if (!buffer) return efi::kInvalidParameter;
        fill_info(*entry, buffer);
        *buffer_size = need;
        f->position++;
        return efi::kSuccess;
    }
    if (f->position > n.data.size()) return efi::kDeviceError;
    uint64_t count = std::min<uint64_t>(*buffer_size, n.data.size() - f->position);
    if (count && !buffer) return efi::kInvalidParameter;
    if (count) std::memcpy(buffer, n.data.data() + f->position, count);
    f->position += count;
    *buffer_size = count;
    return efi::kSuccess;
}

efi::Status EFIAPI file_write(efi::FileProtocol* self, uint64_t* buffer_size, const void* buffer) {
    OpenFile* f = lookup(self);
    if (!f || !buffer_size) return efi::kInvalidParameter;
    SimVolume& v = *f->volume;
    efi::Status st;
    if (injected(v, FileOp::Write, &st)) {
        *buffer_size = 0;
        return st;
    }
    Node& n = *f->node;
    if (n.dir) return efi::kUnsupported;
    if (v.read_only) return efi::kWriteProtected;
    if (!f->writable) return efi::kAccessDenied;
    if (n.deleted) return efi::kDeviceError;
    if (v.write_countdown == 0) {
        *buffer_size = 0;
        return efi::kDeviceError;
    }
    if (v.write_countdown > 0) v.write_countdown--;
    uint64_t count = *buffer_size;
    if (count && !buffer) return efi::kInvalidParameter;
    uint64_t end = f->position + count;
    uint64_t growth = end > n.data.size() ? end - n.data.size() : 0;
    uint64_t avail = free_bytes(v);
    efi::Status result = efi::kSuccess;
    if (growth > avail) {
        uint64_t cut = growth - avail;
        count = cut >= count ? 0 : count - cut;
        end = f->position + count;
        result = efi::kVolumeFull;
    }
    if (end > n.data.size()) n.data.resize(end, '\0');
    if (count) std::memcpy(n.data.data() + f->position, buffer, count);
    f->position += count;
    n.modify = n.access = now_time();
    n.attributes |= efi::kFileArchive;
    *buffer_size = count;
    return result;
}

efi::Status EFIAPI file_get_position(efi::FileProtocol* self, uint64_t* position) {
    OpenFile* f = lookup(self);
    if (!f || !position) return efi::kInvalidParameter;
    efi::Status st;
    if (injected(*f->volume, FileOp::GetPosition, &st)) return st;
    if (f->node->dir) return efi::kUnsupported;
    *position = f->position;
    return efi::kSuccess;
}

efi::Status EFIAPI file_set_position(efi::FileProtocol* self, uint64_t position) {
    OpenFile* f = lookup(self);
    if (!f) return efi::kInvalidParameter;
    efi::Status st;
    if (injected(*f->volume, FileOp::SetPosition, &st)) return st;
    if (f->node->dir) {
        if (position != 0) return efi::kUnsupported;
        f->position = 0;
        return efi::kSuccess;
    }
    f->position = position == ~0ull ? f->node->data.size() : position;
    return efi::kSuccess;
}

efi::Status EFIAPI file_get_info(efi::FileProtocol* self, const efi::Guid* type,
                                 uint64_t* buffer_size, void* buffer) {
    OpenFile* f = lookup(self);
    if (!f || !type || !buffer_size) return efi::kInvalidParameter;
    efi::Status st;
    if (injected(*f->volume, FileOp::GetInfo, &st)) return st;
    if (*type == efi::kFileInfoGuid) {
        uint64_t need = info_size(*f->node);
        if (*buffer_size < need) {
            *buffer_size = need;
            return efi::kBufferTooSmall;
        }
        if (!buffer) return efi::kInvalidParameter;
        fill_info(*f->node, buffer);
        *buffer_size = need;
        return efi::kSuccess;
    }
    if (*type == efi::kFileSystemInfoGuid) {
        SimVolume& v = *f->volume;
        std::u16string label = to_u16(v.label);
        uint64_t need = efi::kFileSystemInfoLabelOffset + (label.size() + 1) * 2;
        if (*buffer_size < need) {
            *buffer_size = need;
            return efi::kBufferTooSmall;
        }
        if (!buffer) return efi::kInvalidParameter;
        auto* info = static_cast<efi::FileSystemInfo*>(buffer);
        std::memset(buffer, 0, efi::kFileSystemInfoLabelOffset);
        info->size = need;
        info->read_only = v.read_only;
        info->volume_size = v.capacity;
        info->free_space = free_bytes(v);
        info->block_size = 512;
        std::memcpy(info->volume_label, label.c_str(), (label.size() + 1) * 2);
        *buffer_size = need;
        return efi::kSuccess;
    }
    return efi::kUnsupported;
}

// Where a new name puts the node: "\a\b" from the root, "b" beside it.
efi::Status rename_target(SimVolume& v, Node& node, const std::u16string& name,
                          std::shared_ptr<Node>* parent, std::u16string* leaf) {
    std::u16string path = name;
    std::shared_ptr<Node> at;
    if (!path.empty() && path[0] == u'\\') {
        at = v.root;
        path.erase(0, 1);
    } else {
        Node* p = node.parent;
        at = p->parent ? p->parent->child(p->name) : v.root;
    }
    auto parts = split_path(path);
    while (!parts.empty() && parts.back().empty()) parts.pop_back();
    if (parts.empty()) return efi::kAccessDenied;
    for (size_t i = 0; i + 1 < parts.size(); i++) {
        if (parts[i].empty() || parts[i] == u".") continue;
        if (parts[i] == u"..") {
            if (!at->parent) return efi::kNotFound;
            Node* p = at->parent;
            at = p->parent ? p->parent->child(p->name) : v.root;
            continue;
        }
        std::shared_ptr<Node> next = at->child(parts[i]);
        if (!next || !next->dir) return efi::kNotFound;
        at = next;
    }
    *parent = at;
    *leaf = parts.back();
    return efi::kSuccess;
}

efi::Status EFIAPI file_set_info(efi::FileProtocol* self, const efi::Guid* type,
                                 uint64_t buffer_size, void* buffer) {
    OpenFile* f = lookup(self);
    if (!f || !type || !buffer) return efi::kInvalidParameter;
    SimVolume& v = *f->volume;
    efi::Status st;
    if (injected(v, FileOp::SetInfo, &st)) return st;
    if (*type == efi::kFileSystemInfoGuid) {
        if (buffer_size < efi::kFileSystemInfoLabelOffset + 2) return efi::kBadBufferSize;
        if (v.read_only) return efi::kWriteProtected;
        auto* info = static_cast<const efi::FileSystemInfo*>(buffer);
        uint64_t max_units = (buffer_size - efi::kFileSystemInfoLabelOffset) / 2;
        std::u16string label;
        for (uint64_t i = 0; i < max_units && info->volume_label[i]; i++)
            label.push_back(info->volume_label[i]);
        if (label.size() > 11) return efi::kInvalidParameter;
        v.label = from_u16(label);
        return efi::kSuccess;
    }
    if (!(*type == efi::kFileInfoGuid)) return efi::kUnsupported;
    if (buffer_size < kFileInfoNameOffset + 2) return efi::kBadBufferSize;
    auto* info = static_cast<const efi::FileInfo*>(buffer);
    if (info->size < kFileInfoNameOffset + 2 || info->size > buffer_size) return efi::kBadBufferSize;
    uint64_t max_units = (info->size - kFileInfoNameOffset) / 2;
    std::u16string name;
    uint64_t i = 0;
    for (; i < max_units && info->file_name[i]; i++) name.push_back(info->file_name[i]);
    if (i == max_units) return efi::kInvalidParameter;
    if (info->attribute & ~efi::kFileValidAttr) return efi::kInvalidParameter;
    Node& n = *f->node;
    if (n.deleted) return efi::kNotFound;

    // A new name that differs only in case names the same entry: OVMF's FAT driver
    // reports success and keeps the old spelling.
    bool rename = !same_name(name, n.name);
    bool resize = !n.dir && info->file_size != n.data.size();
    bool dir_bit = (info->attribute & efi::kFileDirectory) != 0;
    uint64_t new_attributes = info->attribute & ~efi::kFileDirectory;
    bool times = !is_zero_time(info->modification_time) &&
                 std::memcmp(&info->modification_time, &n.modify, sizeof n.modify) != 0;
    bool attributes = new_attributes != n.attributes;
    if (!rename && !resize && !times && !attributes && dir_bit == n.dir) return efi::kSuccess;

    if (v.read_only) return efi::kWriteProtected;
    if (!n.parent) return efi::kAccessDenied;  // the root cannot change
    if (dir_bit != n.dir) return efi::kAccessDenied;
    if (n.dir && info->file_size != 0 && info->file_size != n.data.size()) return efi::kAccessDenied;
    // A file opened read-only (a read-only file cannot be opened otherwise) keeps its name
    // and size; its attributes and times may change, as on OVMF's FAT driver.
    if (!f->writable && (rename || resize)) return efi::kAccessDenied;
    if (times && !valid_time(info->modification_time)) return efi::kInvalidParameter;

    std::shared_ptr<Node> new_parent;
    std::u16string leaf;
    if (rename) {
        efi::Status r = rename_target(v, n, name, &new_parent, &leaf);
        if (r != efi::kSuccess) return r;
        if (!valid_name(leaf)) return efi::kInvalidParameter;
        std::shared_ptr<Node> existing = new_parent->child(leaf);
        if (existing && existing.get() != &n) return efi::kAccessDenied;
        if (is_descendant(new_parent.get(), &n)) return efi::kAccessDenied;
    }
    if (resize && info->file_size > n.data.size() &&
        info->file_size - n.data.size() > free_bytes(v))
        return efi::kVolumeFull;

    if (rename) {
        std::shared_ptr<Node> self_node = f->node;
        auto& siblings = n.parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), self_node), siblings.end());
        n.name = leaf;
        n.parent = new_parent.get();
        new_parent->children.push_back(self_node);
    }
    if (resize) n.data.resize(info->file_size, '\0');
    if (times) {
        n.modify = info->modification_time;
        if (!is_zero_time(info->last_access_time)) n.access = info->last_access_time;
        if (!is_zero_time(info->create_time)) n.create = info->create_time;
    }
    n.attributes = new_attributes;
    return efi::kSuccess;
}

efi::Status EFIAPI file_flush(efi::FileProtocol* self) {
    OpenFile* f = lookup(self);
    if (!f) return efi::kInvalidParameter;
    efi::Status st;
    if (injected(*f->volume, FileOp::Flush, &st)) return st;
    if (f->volume->read_only && f->writable) return efi::kWriteProtected;
    return efi::kSuccess;
}

efi::FileProtocol* new_open_file(std::shared_ptr<Node> node, SimVolume* v, bool writable) {
    auto f = std::make_unique<OpenFile>();
    f->proto.revision = 0x00010000;
    f->proto.open = file_open;
    f->proto.close = file_close;
    f->proto.delete_file = file_delete;
    f->proto.read = file_read;
    f->proto.write = file_write;
    f->proto.get_position = file_get_position;
    f->proto.set_position = file_set_position;
    f->proto.get_info = file_get_info;
    f->proto.set_info = file_set_info;
    f->proto.flush = file_flush;
    f->node = std::move(node);
    f->volume = v;
    f->writable = writable;
    efi::FileProtocol* p = &f->proto;
    storage().open[p] = std::move(f);
    return p;
}

efi::Status EFIAPI open_volume(efi::SimpleFileSystem* self, efi::FileProtocol** root) {
    auto& s = storage();
    auto it = s.by_sfs.find(self);
    if (it == s.by_sfs.end() || !root) return efi::kInvalidParameter;
    SimVolume& v = *it->second;
    efi::Status st;
    if (injected(v, FileOp::OpenVolume, &st)) return st;
    *root = new_open_file(v.root, &v, !v.read_only);
    return efi::kSuccess;
}

// ------------------------------------------------------------------ Block I/O

SimBlock* block_lookup(efi::BlockIo* self) {
    auto& s = storage();
    auto it = s.by_block_io.find(self);
    return it == s.by_block_io.end() ? nullptr : it->second;
}

efi::Status check_transfer(SimBlock& b, uint32_t media_id, uint64_t lba, uint64_t size,
                           const void* buffer) {
    if (!b.media.media_present) return efi::kNoMedia;
    if (media_id != b.media.media_id) return efi::kMediaChanged;
    if (size % b.media.block_size) return efi::kBadBufferSize;
    if (!buffer) return efi::kInvalidParameter;
    if (b.media.io_align > 1 && reinterpret_cast<uintptr_t>(buffer) % b.media.io_align)
        return efi::kInvalidParameter;
    uint64_t blocks = size / b.media.block_size;
    if (lba > b.media.last_block || blocks > b.media.last_block + 1 - lba)
        return efi::kInvalidParameter;
    return efi::kSuccess;
}

efi::Status EFIAPI block_reset(efi::BlockIo* self, efi::Boolean) {
    return block_lookup(self) ? efi::kSuccess : efi::kInvalidParameter;
}

efi::Status EFIAPI block_read(efi::BlockIo* self, uint32_t media_id, uint64_t lba, uint64_t size,
                              void* buffer) {
    SimBlock* b = block_lookup(self);
    if (!b) return efi::kInvalidParameter;
    b->reads++;
    efi::Status st = check_transfer(*b, media_id, lba, size, buffer);
    if (st != efi::kSuccess) return st;
    std::memcpy(buffer, b->data.data() + lba * b->media.block_size, size);
    return efi::kSuccess;
}

efi::Status EFIAPI block_write(efi::BlockIo* self, uint32_t media_id, uint64_t lba,
                               uint64_t size, const void* buffer) {
    SimBlock* b = block_lookup(self);
    if (!b) return efi::kInvalidParameter;
    b->writes++;
    if (b->media.media_present && b->media.read_only) return efi::kWriteProtected;
    efi::Status st = check_transfer(*b, media_id, lba, size, buffer);
    if (st != efi::kSuccess) return st;
    std::memcpy(b->data.data() + lba * b->media.block_size, buffer, size);
    return efi::kSuccess;
}

efi::Status EFIAPI block_flush(efi::BlockIo* self) {
    SimBlock* b = block_lookup(self);
    if (!b) return efi::kInvalidParameter;
    b->flushes++;
    return efi::kSuccess;
}

// ------------------------------------------------------------------ device paths

void put_node(std::vector<uint8_t>& out, uint8_t type, uint8_t sub, const void* body, size_t n) {
    size_t length = 4 + n;
    out.push_back(type);
    out.push_back(sub);
    out.push_back(static_cast<uint8_t>(length & 0xff));
    out.push_back(static_cast<uint8_t>(length >> 8));
    const auto* p = static_cast<const uint8_t*>(body);
    out.insert(out.end(), p, p + n);
}

template <class T> void put_le(std::vector<uint8_t>& b, T v) {
    for (size_t i = 0; i < sizeof(T); i++) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

constexpr uint8_t kAcpiSubType = 1;
constexpr uint8_t kPciSubType = 1;
constexpr uint8_t kUsbSubType = 5;
constexpr uint32_t kPciRootHid = 0x0a0341d0;  // EISA PNP0A03

std::vector<uint8_t> build_path(const DeviceLocation& loc, uint64_t partition_start,
                                uint64_t partition_blocks, uint32_t signature) {
    std::vector<uint8_t> out, body;
    put_le<uint32_t>(body, kPciRootHid);
    put_le<uint32_t>(body, loc.root);
    put_node(out, efi::kAcpiDevicePath, kAcpiSubType, body.data(), body.size());
    body = {static_cast<uint8_t>(loc.pci_function), static_cast<uint8_t>(loc.pci_device)};
    put_node(out, efi::kHardwareDevicePath, kPciSubType, body.data(), body.size());
    if (loc.usb) {
        body = {static_cast<uint8_t>(loc.usb_port), 0};
        put_node(out, efi::kMessagingDevicePath, kUsbSubType, body.data(), body.size());
    }
    if (loc.partition) {
        body.clear();
        put_le<uint32_t>(body, loc.partition);
        put_le<uint64_t>(body, partition_start);
        put_le<uint64_t>(body, partition_blocks);
        put_le<uint32_t>(body, signature);
        for (int i = 0; i < 12; i++) body.push_back(0);
        body.push_back(1);  // MBR
        body.push_back(1);  // 32-bit signature
        put_node(out, efi::kMediaDevicePath, efi::kMediaHardDriveSubType, body.data(), body.size());
    }
    put_node(out, efi::kEndDevicePath, efi::kEndEntireSubType, nullptr, 0);
    return out;
}

template <class T> T get_le(const uint8_t* p) {
    T v = 0;
    for (size_t i = 0; i < sizeof(T); i++) v |= static_cast<T>(static_cast<T>(p[i]) << (8 * i));
    return v;
}

std::string hex(uint64_t v) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
    return b;
}

std::string node_text(const efi::DevicePath* node) {
    const auto* p = reinterpret_cast<const uint8_t*>(node);
    uint16_t length = node_length(node);
    const uint8_t* body = p + 4;
    size_t n = length - 4u;
    if (node->type == efi::kAcpiDevicePath && node->sub_type == kAcpiSubType && n >= 8 &&
        get_le<uint32_t>(body) == kPciRootHid)
        return "PciRoot(" + hex(get_le<uint32_t>(body + 4)) + ")";
    if (node->type == efi::kHardwareDevicePath && node->sub_type == kPciSubType && n >= 2)
        return "Pci(" + hex(body[1]) + "," + hex(body[0]) + ")";
    if (node->type == efi::kMessagingDevicePath && node->sub_type == kUsbSubType && n >= 2)
        return "USB(" + hex(body[0]) + "," + hex(body[1]) + ")";
    if (node->type == efi::kMediaDevicePath && node->sub_type == efi::kMediaHardDriveSubType &&
        n >= 38) {
        char b[128];
        std::snprintf(b, sizeof b, "HD(%u,MBR,0x%08X,0x%llX,0x%llX)", get_le<uint32_t>(body),
                      get_le<uint32_t>(body + 20),
                      static_cast<unsigned long long>(get_le<uint64_t>(body + 4)),
                      static_cast<unsigned long long>(get_le<uint64_t>(body + 12)));
        return b;
    }
    if (node->type == efi::kMediaDevicePath && node->sub_type == efi::kMediaFilePathSubType) {
        std::u16string s;
        for (size_t i = 0; i + 1 < n; i += 2) {
            char16_t u = static_cast<char16_t>(get_le<uint16_t>(body + i));
            if (!u) break;
            s.push_back(u);
        }
        return from_u16(s);
    }
    std::string out = "Path(" + std::to_string(node->type) + "," + std::to_string(node->sub_type);
    if (n) {
        out += ",";
        char b[4];
        for (size_t i = 0; i < n; i++) {
            std::snprintf(b, sizeof b, "%02X", body[i]);
            out += b;
        }
    }
    return out + ")";
}

char16_t* pool_u16(const std::string& utf8) {
    std::u16string s = to_u16(utf8);
    SimFirmware* fw = SimFirmware::current();
    auto* out = static_cast<char16_t*>(fw->allocate_pool((s.size() + 1) * 2));
    if (!out) return nullptr;
    std::memcpy(out, s.c_str(), (s.size() + 1) * 2);
    return out;
}

efi::Char16* EFIAPI node_to_text(const efi::DevicePath* node, efi::Boolean, efi::Boolean) {
    if (!node || node_length(node) < 4) return nullptr;
    return pool_u16(node_text(node));
}

efi::Char16* EFIAPI path_to_text(const efi::DevicePath* path, efi::Boolean, efi::Boolean) {
    if (!path || device_path_size(path) == 0) return nullptr;
    return pool_u16(device_path_text(path));
}

void install_text_service(SimFirmware& fw) {
    auto& s = storage(fw);
    if (s.text_handle) return;
    s.to_text.convert_device_node_to_text = node_to_text;
    s.to_text.convert_device_path_to_text = path_to_text;
    s.text_handle = fw.handles().install_new(efi::kDevicePathToTextProtocolGuid, &s.to_text);
}

std::shared_ptr<Node> find_node(SimVolume& v, const std::string& path) {
    std::shared_ptr<Node> at = v.root;
    for (auto& part : split_path(to_u16(path))) {
        if (part.empty()) continue;
        if (!at->dir) return nullptr;
        at = at->child(part);
        if (!at) return nullptr;
    }
    return at;
}

std::shared_ptr<Node> make_node(SimVolume& v, const std::string& path, bool dir) {
    std::shared_ptr<Node> at = v.root;
    auto parts = split_path(to_u16(path));
    while (!parts.empty() && parts.back().empty()) parts.pop_back();
    for (size_t i = 0; i < parts.size(); i++) {
        if (parts[i].empty()) continue;
        bool last = i + 1 == parts.size();
        std::shared_ptr<Node> next = at->child(parts[i]);
        if (!next) {
            next = std::make_shared<Node>();
            next->name = parts[i];
            next->dir = !last || dir;
            next->create = next->access = next->modify = now_time();
            next->parent = at.get();
            at->children.push_back(next);
        }
        at = next;
    }
    return at;
}

std::shared_ptr<Node> node_or_throw(SimFirmware& fw, VolumeId id, const std::string& path) {
    auto n = find_node(volume_of(fw, id), path);
    if (!n) throw std::runtime_error("sim: no such file " + path);
    return n;
}

BlockId make_block(SimFirmware& fw, const BlockLayout& setup, efi::Handle* handle,
                   const std::vector<uint8_t>& path) {
    auto& s = storage(fw);
    auto b = std::make_unique<SimBlock>();
    b->id = static_cast<BlockId>(s.blocks.size());
    b->media.media_id = 1;
    b->media.removable_media = setup.removable;
    b->media.media_present = setup.media_present;
    b->media.logical_partition = setup.logical_partition;
    b->media.read_only = setup.read_only;
    b->media.block_size = setup.block_size;
    b->media.io_align = setup.io_align;
    b->media.last_block = setup.blocks ? setup.blocks - 1 : 0;
    b->data.assign(setup.blocks * setup.block_size, 0);
    b->io.revision = 0x00010000;
    b->io.media = &b->media;
    b->io.reset = block_reset;
    b->io.read_blocks = block_read;
    b->io.write_blocks = block_write;
    b->io.flush_blocks = block_flush;
    b->path = path;
    s.by_block_io[&b->io] = b.get();
    if (setup.device_path && !b->path.empty() && !*handle) {
        fw.handles().install(handle, efi::kDevicePathProtocolGuid, b->path.data());
    }
    fw.handles().install(handle, efi::kBlockIoProtocolGuid, &b->io);
    b->handle = *handle;
    s.blocks.push_back(std::move(b));
    return s.blocks.back()->id;
}

}  // namespace

// ------------------------------------------------------------------ public

std::string device_path_text(const efi::DevicePath* path) {
    std::string out;
    const efi::DevicePath* node = path;
    for (int i = 0; node && i < 4096; i++) {
        if (node_length(node) < 4 || is_end_node(node)) break;
        if (!out.empty()) out += "/";
        out += node_text(node);
        node = next_node(node);
    }
    return out;
}

std::string handle_device_path_text(SimFirmware& fw, efi::Handle handle) {
    auto* path = static_cast<efi::DevicePath*>(fw.handles().find(handle, efi::kDevicePathProtocolGuid));
    return path ? device_path_text(path) : std::string();
}

void set_device_path_text_service(SimFirmware& fw, bool present) {
    auto& s = storage(fw);
    if (present) {
        install_text_service(fw);
    } else if (s.text_handle) {
        fw.handles().uninstall(s.text_handle, efi::kDevicePathToTextProtocolGuid, &s.to_text);
        s.text_handle = nullptr;
    }
}

void install_storage(SimFirmware& fw) { install_text_service(fw); }

void remove_storage(SimFirmware& fw) {
    auto& s = storage(fw);
    s.open.clear();
    s.closed.clear();
}

VolumeId add_volume(SimFirmware& fw, const VolumeLayout& setup) {
    auto& s = storage(fw);
    auto v = std::make_unique<SimVolume>();
    v->id = static_cast<VolumeId>(s.volumes.size());
    v->root = std::make_shared<Node>();
    v->root->dir = true;
    v->root->create = v->root->access = v->root->modify = fw.wall_time();
    v->label = setup.label;
    v->read_only = setup.read_only;
    v->capacity = setup.capacity;
    v->sfs.revision = 0x00010000;
    v->sfs.open_volume = open_volume;
    uint32_t signature = 0x1000u + static_cast<uint32_t>(v->id);
    v->path = build_path(setup.location, 0x800, setup.blocks, signature);
    efi::Handle handle = nullptr;
    if (setup.device_path)
        fw.handles().install(&handle, efi::kDevicePathProtocolGuid, v->path.data());
    s.by_sfs[&v->sfs] = v.get();
    fw.handles().install(&handle, efi::kSimpleFileSystemProtocolGuid, &v->sfs);
    v->handle = handle;
    if (setup.block_io) {
        BlockLayout b;
        b.location = setup.location;
        b.device_path = false;  // already on the handle
        b.removable = setup.removable;
        b.read_only = setup.read_only;
        b.logical_partition = setup.location.partition != 0;
        b.block_size = setup.block_size;
        b.blocks = setup.blocks;
        v->block = make_block(fw, b, &handle, {});
    }
    s.volumes.push_back(std::move(v));
    return s.volumes.back()->id;
}

void remove_volume(SimFirmware& fw, VolumeId id) {
    SimVolume& v = volume_of(fw, id);
    if (v.removed) return;
    v.removed = true;
    auto& s = storage(fw);
    if (v.block >= 0) {
        SimBlock& b = *s.blocks[static_cast<size_t>(v.block)];
        fw.handles().uninstall(v.handle, efi::kBlockIoProtocolGuid, &b.io);
    }
    fw.handles().uninstall(v.handle, efi::kSimpleFileSystemProtocolGuid, &v.sfs);
    if (fw.handles().find(v.handle, efi::kDevicePathProtocolGuid))
        fw.handles().uninstall(v.handle, efi::kDevicePathProtocolGuid, v.path.data());
}

efi::Handle volume_handle(SimFirmware& fw, VolumeId id) { return volume_of(fw, id).handle; }

void set_boot_volume(SimFirmware& fw, VolumeId id) {
    fw.loaded_image()->device_handle = id < 0 ? nullptr : volume_of(fw, id).handle;
}

std::string volume_label(SimFirmware& fw, VolumeId id) { return volume_of(fw, id).label; }

void add_file(SimFirmware& fw, VolumeId id, const std::string& path, const std::string& content,
              uint64_t attributes) {
    auto n = make_node(volume_of(fw, id), path, false);
    if (n->dir) throw std::runtime_error("sim: " + path + " is a directory");
    n->data = content;
    n->attributes = attributes & ~efi::kFileDirectory;
}

void add_directory(SimFirmware& fw, VolumeId id, const std::string& path, uint64_t attributes) {
    auto n = make_node(volume_of(fw, id), path, true);
    n->attributes = attributes & ~efi::kFileDirectory;
}

bool exists(SimFirmware& fw, VolumeId id, const std::string& path) {
    return find_node(volume_of(fw, id), path) != nullptr;
}

bool is_directory(SimFirmware& fw, VolumeId id, const std::string& path) {
    auto n = find_node(volume_of(fw, id), path);
    return n && n->dir;
}

std::optional<std::string> read_file(SimFirmware& fw, VolumeId id, const std::string& path) {
    auto n = find_node(volume_of(fw, id), path);
    if (!n || n->dir) return std::nullopt;
    return n->data;
}

std::vector<std::string> list_directory(SimFirmware& fw, VolumeId id, const std::string& path) {
    auto n = node_or_throw(fw, id, path);
    std::vector<std::string> names;
    for (auto& c : n->children) names.push_back(from_u16(c->name));
    return names;
}

std::string stored_name(SimFirmware& fw, VolumeId id, const std::string& path) {
    auto n = find_node(volume_of(fw, id), path);
    return n ? from_u16(n->name) : std::string();
}

uint64_t attributes_of(SimFirmware& fw, VolumeId id, const std::string& path) {
    auto n = node_or_throw(fw, id, path);
    return n->attributes | (n->dir ? efi::kFileDirectory : 0);
}

void set_attributes_of(SimFirmware& fw, VolumeId id, const std::string& path, uint64_t attributes) {
    node_or_throw(fw, id, path)->attributes = attributes & ~efi::kFileDirectory;
}

efi::Time modification_time(SimFirmware& fw, VolumeId id, const std::string& path) {
    return node_or_throw(fw, id, path)->modify;
}

efi::Time last_access_time(SimFirmware& fw, VolumeId id, const std::string& path) {
    return node_or_throw(fw, id, path)->access;
}

uint64_t used_bytes(SimFirmware& fw, VolumeId id) { return used(*volume_of(fw, id).root); }

void fail_writes_after(SimFirmware& fw, VolumeId id, int64_t n) {
    volume_of(fw, id).write_countdown = n < 0 ? -1 : n;
}

void set_free_space(SimFirmware& fw, VolumeId id, uint64_t bytes) {
    SimVolume& v = volume_of(fw, id);
    v.capacity = used(*v.root) + bytes;
}

void inject_file_error(SimFirmware& fw, VolumeId id, FileOp op, efi::Status status, int64_t after) {
    volume_of(fw, id).injections.insert({op, Injection{status, after}});
}

void set_reported_size(SimFirmware& fw, VolumeId id, const std::string& path, uint64_t size) {
    node_or_throw(fw, id, path)->reported_size = size;
}

int64_t open_file_count(SimFirmware& fw) { return static_cast<int64_t>(storage(fw).open.size()); }
int64_t file_misuse_count(SimFirmware& fw) { return storage(fw).misuse; }
void reset_misuse_count(SimFirmware& fw) { storage(fw).misuse = 0; }
uint64_t file_calls(SimFirmware& fw, FileOp op) { return storage(fw).calls[op]; }

BlockId add_block_device(SimFirmware& fw, const BlockLayout& setup) {
    efi::Handle handle = nullptr;
    return make_block(fw, setup, &handle, build_path(setup.location, 0, setup.blocks, 0));
}

BlockId volume_block_device(SimFirmware& fw, VolumeId id) { return volume_of(fw, id).block; }
efi::Handle block_handle(SimFirmware& fw, BlockId id) { return block_of(fw, id).handle; }
std::vector<uint8_t>& block_data(SimFirmware& fw, BlockId id) { return block_of(fw, id).data; }
efi::BlockIoMedia& block_media(SimFirmware& fw, BlockId id) { return block_of(fw, id).media; }
uint64_t block_reads(SimFirmware& fw, BlockId id) { return block_of(fw, id).reads; }
uint64_t block_writes(SimFirmware& fw, BlockId id) { return block_of(fw, id).writes; }
uint64_t block_flushes(SimFirmware& fw, BlockId id) { return block_of(fw, id).flushes; }

}  // namespace sim
