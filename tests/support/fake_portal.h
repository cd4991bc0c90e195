// A stand-in for the desktop's trash portal on a private test bus: a
// FakeService owning org.freedesktop.portal.Desktop that answers TrashFile in
// one of four ways and logs the calls. Header-only like fake_bus.h.
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include "fake_bus.h"

namespace testing_support {

class FakeTrashPortal {
public:
    enum class Behaviour {
        MoveAndAnswerOne, // moves the item into `trash_dir`, answers 1
        AnswerOneAndLeave,
        AnswerZero,
        NeverAnswer, // left unanswered until the portal stops
    };

    FakeTrashPortal(const std::string& bus_address, Behaviour behaviour, std::string trash_dir)
        : m_behaviour(behaviour)
        , m_trash_dir(std::move(trash_dir))
        , m_service(
              bus_address, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
              kXml,
              [this](const std::string&, GVariant* parameters) { return answer(parameters); }) {}

    bool ok() const { return m_service.ready(); }
    std::string calls() const { return m_service.calls(); }

private:
    static constexpr const char* kXml =
        "<node><interface name='org.freedesktop.portal.Trash'>"
        "<method name='TrashFile'><arg type='h' name='fd' direction='in'/>"
        "<arg type='u' name='result' direction='out'/></method>"
        "</interface></node>";

    // The path behind the passed descriptor; empty when none came.
    std::string passed_path(GVariant* parameters) const {
        gint32 index = -1;
        g_variant_get(parameters, "(h)", &index);
        GUnixFDList* fds = g_dbus_message_get_unix_fd_list(
            g_dbus_method_invocation_get_message(m_service.current_invocation()));
        const int fd = fds != nullptr ? g_unix_fd_list_get(fds, index, nullptr) : -1;
        std::string path;
        if (fd >= 0) {
            char buf[4096];
            const ssize_t n =
                ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf - 1);
            if (n > 0) path.assign(buf, static_cast<std::size_t>(n));
            ::close(fd);
        }
        return path;
    }

    GVariant* answer(GVariant* parameters) const {
        if (m_behaviour == Behaviour::NeverAnswer) return nullptr;
        const std::string path = passed_path(parameters);
        bool moved = m_behaviour == Behaviour::AnswerOneAndLeave;
        if (m_behaviour == Behaviour::MoveAndAnswerOne && !path.empty()) {
            const std::string target = m_trash_dir + path.substr(path.rfind('/'));
            moved = std::rename(path.c_str(), target.c_str()) == 0;
        }
        return g_variant_new("(u)", moved ? 1u : 0u);
    }

    Behaviour m_behaviour;
    std::string m_trash_dir;
    FakeService m_service; // last: its handler uses the members above
};

} // namespace testing_support
