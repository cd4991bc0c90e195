// A stand-in for the desktop's trash portal on a private test bus: it owns
// org.freedesktop.portal.Desktop on its own connection and thread, answers
// TrashFile in one of four ways and counts the calls. Header-only because it
// needs GIO, which the shared test support library does not link.
#pragma once

#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

namespace testing_support {

class FakeTrashPortal {
public:
    enum class Behaviour {
        MoveAndAnswerOne, // moves the item into `trash_dir`, answers 1
        AnswerOneAndLeave,
        AnswerZero,
        NeverAnswer,
    };

    FakeTrashPortal(const std::string& bus_address, Behaviour behaviour, std::string trash_dir)
        : m_behaviour(behaviour)
        , m_trash_dir(std::move(trash_dir)) {
        std::promise<bool> ready;
        auto started = ready.get_future();
        m_thread = std::thread([this, bus_address, &ready] { run(bus_address, ready); });
        m_ok = started.get();
    }

    ~FakeTrashPortal() {
        if (m_loop != nullptr) {
            g_main_context_invoke(
                m_context,
                [](gpointer loop) {
                    g_main_loop_quit(static_cast<GMainLoop*>(loop));
                    return G_SOURCE_REMOVE;
                },
                m_loop);
        }
        if (m_thread.joinable()) m_thread.join();
    }

    FakeTrashPortal(const FakeTrashPortal&) = delete;
    FakeTrashPortal& operator=(const FakeTrashPortal&) = delete;

    bool ok() const { return m_ok; }
    int calls() const { return m_calls.load(); }

private:
    static constexpr const char* kXml =
        "<node><interface name='org.freedesktop.portal.Trash'>"
        "<method name='TrashFile'><arg type='h' name='fd' direction='in'/>"
        "<arg type='u' name='result' direction='out'/></method>"
        "</interface></node>";

    void run(const std::string& address, std::promise<bool>& ready) {
        m_context = g_main_context_new();
        g_main_context_push_thread_default(m_context);
        GDBusConnection* conn = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
        static const GDBusInterfaceVTable vtable = {
            &FakeTrashPortal::on_call, nullptr, nullptr, {}};
        bool ok = conn != nullptr && node != nullptr &&
                  g_dbus_connection_register_object(conn, "/org/freedesktop/portal/desktop",
                                                    node->interfaces[0], &vtable, this, nullptr,
                                                    nullptr) != 0;
        if (ok) {
            GVariant* reply = g_dbus_connection_call_sync(
                conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            ok = reply != nullptr;
            if (reply != nullptr) g_variant_unref(reply);
        }
        if (ok) m_loop = g_main_loop_new(m_context, FALSE);
        ready.set_value(ok);
        if (ok) g_main_loop_run(m_loop);
        // Calls never answered are answered now, long after the caller gave up.
        for (GDBusMethodInvocation* inv : m_pending)
            g_dbus_method_invocation_return_value(inv, g_variant_new("(u)", 0u));
        m_pending.clear();
        if (conn != nullptr) {
            g_dbus_connection_flush_sync(conn, nullptr, nullptr);
            g_object_unref(conn);
        }
        if (node != nullptr) g_dbus_node_info_unref(node);
        if (m_loop != nullptr) g_main_loop_unref(m_loop);
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
    }

    static void on_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                        GVariant* parameters, GDBusMethodInvocation* invocation,
                        gpointer user_data) {
        auto* self = static_cast<FakeTrashPortal*>(user_data);
        ++self->m_calls;
        gint32 index = -1;
        g_variant_get(parameters, "(h)", &index);
        GUnixFDList* fds =
            g_dbus_message_get_unix_fd_list(g_dbus_method_invocation_get_message(invocation));
        const int fd = fds != nullptr ? g_unix_fd_list_get(fds, index, nullptr) : -1;
        std::string path;
        if (fd >= 0) {
            char buf[4096];
            const ssize_t n =
                ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf - 1);
            if (n > 0) path.assign(buf, static_cast<std::size_t>(n));
            ::close(fd);
        }
        switch (self->m_behaviour) {
        case Behaviour::MoveAndAnswerOne: {
            const std::string target = self->m_trash_dir + path.substr(path.rfind('/'));
            const bool moved = !path.empty() && std::rename(path.c_str(), target.c_str()) == 0;
            g_dbus_method_invocation_return_value(invocation,
                                                  g_variant_new("(u)", moved ? 1u : 0u));
            break;
        }
        case Behaviour::AnswerOneAndLeave:
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 1u));
            break;
        case Behaviour::AnswerZero:
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 0u));
            break;
        case Behaviour::NeverAnswer:
            self->m_pending.push_back(invocation); // the reference the call hands us
            break;
        }
    }

    Behaviour m_behaviour;
    std::string m_trash_dir;
    std::thread m_thread;
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    std::vector<GDBusMethodInvocation*> m_pending;
    std::atomic<int> m_calls{0};
    bool m_ok = false;
};

} // namespace testing_support
