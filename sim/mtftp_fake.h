// What the fake MTFTP4 and MTFTP6 children share: the request log's option text, the
// OACK that GetInfo answers, ParseOptions, and the transfer ReadFile starts and Poll or
// a reconfiguration ends. A child type carries nic, configured, pending, due_us and
// result; its nic carries the tftp_* settings and the request log.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim.h"
#include "uefi/base.h"

namespace sim::mtftp {

namespace efi = tarn::efi;

template <typename Option>
std::string option_text(uint32_t count, const Option* options) {
    std::string s;
    for (uint32_t i = 0; i < count; i++)
        s += std::string(" ") + reinterpret_cast<const char*>(options[i].name) + "=" +
             reinterpret_cast<const char*>(options[i].value);
    return s;
}

// GetInfo: logs "info NAME MODE opt=value ..." and answers an OACK that echoes each
// option, tsize with the file's size (or the announced one; left out without tsize).
template <typename Nic, typename Option>
efi::Status get_info(Nic& nic, const uint8_t* filename, const uint8_t* mode, uint8_t count, const Option* options,
                     uint32_t* length, void** packet) {
    std::string name = reinterpret_cast<const char*>(filename);
    nic.tftp_requests.push_back("info " + name + " " + reinterpret_cast<const char*>(mode) +
                                option_text(count, options));
    auto it = nic.tftp_files.find(name);
    if (it == nic.tftp_files.end()) return efi::kTftpError;
    std::string oack("\0\6", 2);
    for (uint8_t i = 0; i < count; i++) {
        std::string key = reinterpret_cast<const char*>(options[i].name);
        std::string value = reinterpret_cast<const char*>(options[i].value);
        if (key == "tsize") {
            if (!nic.tftp_tsize) continue;
            value = std::to_string(nic.tftp_announced >= 0 ? static_cast<uint64_t>(nic.tftp_announced)
                                                           : it->second.size());
        }
        oack += key + std::string(1, '\0') + value + std::string(1, '\0');
    }
    void* p = SimFirmware::current()->allocate_pool(oack.size());
    if (!p) return efi::kOutOfResources;
    std::memcpy(p, oack.data(), oack.size());
    *packet = p;
    *length = static_cast<uint32_t>(oack.size());
    return efi::kSuccess;
}

// ParseOptions of an OACK packet: a pool array of (name, value) pointers into it.
template <typename Option>
efi::Status parse_options(uint32_t length, void* packet, uint32_t* count, Option** options) {
    const uint8_t* p = static_cast<const uint8_t*>(packet);
    if (length < 2 || p[1] != 6) return efi::kInvalidParameter;
    std::vector<Option> list;
    uint32_t at = 2;
    while (at < length) {
        const uint8_t* name = p + at;
        while (at < length && p[at]) at++;
        if (++at >= length) return efi::kProtocolError;
        const uint8_t* value = p + at;
        while (at < length && p[at]) at++;
        if (at++ >= length) return efi::kProtocolError;
        list.push_back({name, value});
    }
    void* block = SimFirmware::current()->allocate_pool(list.size() * sizeof(Option) + 1);
    if (!block) return efi::kOutOfResources;
    if (!list.empty()) std::memcpy(block, list.data(), list.size() * sizeof(Option));
    *options = static_cast<Option*>(block);
    *count = static_cast<uint32_t>(list.size());
    return efi::kSuccess;
}

inline efi::BootServices* boot_services() { return SimFirmware::current()->system_table()->boot_services; }

template <typename Child>
void finish(Child* t) {
    auto* token = t->pending;
    t->pending = nullptr;
    token->status = t->result;
    boot_services()->signal_event(token->event);
}

// Configure(NULL): a transfer under way ends as aborted.
template <typename Child>
void abort_pending(Child* t) {
    if (t->pending) {
        t->pending->status = efi::kAborted;
        efi::Event e = t->pending->event;
        t->pending = nullptr;
        boot_services()->signal_event(e);
    }
    t->configured = false;
}

// ReadFile: logs "read NAME MODE opt=value ...", fills the caller's buffer (or asks for a
// larger one) and completes after the nic's tftp_duration_us.
template <typename Child, typename Token>
efi::Status read_file(Child* t, Token* token) {
    auto& nic = *t->nic;
    if (!t->configured) return efi::kNotStarted;
    if (!token || !token->filename || !token->event) return efi::kInvalidParameter;
    std::string name = reinterpret_cast<const char*>(token->filename);
    nic.tftp_requests.push_back("read " + name + " " + reinterpret_cast<const char*>(token->mode) +
                                option_text(token->option_count, token->options));
    auto it = nic.tftp_files.find(name);
    t->result = efi::kSuccess;
    if (it == nic.tftp_files.end()) {
        t->result = efi::kTftpError;
    } else if (token->buffer_size < it->second.size()) {
        token->buffer_size = it->second.size();
        t->result = efi::kBufferTooSmall;
    } else {
        std::memcpy(token->buffer, it->second.data(), it->second.size());
        token->buffer_size = it->second.size();
    }
    if (nic.tftp_read_status) t->result = nic.tftp_read_status;
    t->pending = token;
    t->due_us = SimFirmware::current()->now_us() + nic.tftp_duration_us;
    if (nic.tftp_duration_us == 0) finish(t);
    return efi::kSuccess;
}

template <typename Child>
efi::Status poll(Child* t) {
    if (t->pending && SimFirmware::current()->now_us() >= t->due_us) finish(t);
    return efi::kSuccess;
}

}  // namespace sim::mtftp
