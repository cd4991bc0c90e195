// D-Bus fixtures: a private message bus for one test process and small fake
// desktop services on it, each serving its calls on a thread of its own so
// that synchronous calls from the test thread get their answers.
//
// Header-only: the shared test support library links no GIO, the desktop
// tests that include this do.
#pragma once

#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gio/gio.h>
#include <gtest/gtest.h>

namespace testing_support {

struct ConnectionUnref {
    void operator()(GDBusConnection* c) const {
        g_dbus_connection_close_sync(c, nullptr, nullptr);
        g_object_unref(c);
    }
};
using ConnectionPtr = std::unique_ptr<GDBusConnection, ConnectionUnref>;

inline GDBusConnection* connect_to(const std::string& address) {
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

// A dbus-daemon of our own, stopped with the object. Never the user's bus.
class PrivateBus {
public:
    PrivateBus()
        : m_bus(g_test_dbus_new(G_TEST_DBUS_NONE)) {
        g_test_dbus_up(m_bus);
        if (const char* address = g_test_dbus_get_bus_address(m_bus)) m_address = address;
    }
    ~PrivateBus() {
        g_test_dbus_down(m_bus);
        g_object_unref(m_bus);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool up() const { return !m_address.empty(); }
    const std::string& address() const { return m_address; }
    // A new client connection (null when the bus is not up).
    ConnectionPtr connect() const { return ConnectionPtr(up() ? connect_to(m_address) : nullptr); }

private:
    GTestDBus* m_bus;
    std::string m_address;
};

// One object with one interface under one well-known name. The handler
// returns the reply (a floating or owned GVariant of the method's out
// arguments), or null to leave the call unanswered until the service stops.
class FakeService {
public:
    using Handler = std::function<GVariant*(const std::string& method, GVariant* parameters)>;

    FakeService(const std::string& address, const std::string& bus_name,
                const std::string& object_path, const std::string& introspection_xml,
                Handler handler)
        : m_path(object_path)
        , m_handler(std::move(handler)) {
        std::promise<bool> started;
        m_thread = std::thread([&] { serve(address, bus_name, introspection_xml, started); });
        m_ready = started.get_future().get();
    }
    ~FakeService() {
        if (m_ready) {
            g_main_context_invoke(
                m_context,
                [](gpointer loop) -> gboolean {
                    g_main_loop_quit(static_cast<GMainLoop*>(loop));
                    return G_SOURCE_REMOVE;
                },
                m_loop);
        }
        m_thread.join();
    }
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    bool ready() const { return m_ready; }
    // The calls so far, one line each: Method(parameters as g_variant_print).
    std::string calls() const {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    // Emits a signal from the object (parameters may be floating).
    bool emit(const std::string& interface, const std::string& signal, GVariant* parameters) {
        if (!m_connection) return false;
        const bool ok =
            g_dbus_connection_emit_signal(m_connection, nullptr, m_path.c_str(), interface.c_str(),
                                          signal.c_str(), parameters, nullptr);
        g_dbus_connection_flush_sync(m_connection, nullptr, nullptr);
        return ok;
    }

    // Inside a handler only (service thread): the call being handled, for
    // what the parameters do not carry, such as passed descriptors.
    GDBusMethodInvocation* current_invocation() const { return m_invocation; }

private:
    // Called on the service thread.
    static void on_method_call(GDBusConnection*, const char*, const char*, const char*,
                               const char* method, GVariant* parameters,
                               GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakeService*>(data);
        g_autofree char* text = g_variant_print(parameters, FALSE);
        {
            std::lock_guard lock(self->m_mutex);
            self->m_calls += method + std::string(text) + "\n";
        }
        self->m_invocation = invocation;
        GVariant* reply = self->m_handler(method, parameters);
        self->m_invocation = nullptr;
        if (reply) return g_dbus_method_invocation_return_value(invocation, reply);
        std::lock_guard lock(self->m_mutex);
        self->m_pending.push_back(invocation);
    }

    // The service thread: registers the object, takes the name, reports
    // whether both worked and then serves until the destructor stops it.
    void serve(const std::string& address, const std::string& bus_name,
               const std::string& introspection_xml, std::promise<bool>& started) {
        static const GDBusInterfaceVTable vtable = {on_method_call, nullptr, nullptr, {}};
        m_context = g_main_context_new();
        g_main_context_push_thread_default(m_context);
        m_loop = g_main_loop_new(m_context, FALSE);

        m_connection = connect_to(address);
        g_autoptr(GDBusNodeInfo) node =
            m_connection ? g_dbus_node_info_new_for_xml(introspection_xml.c_str(), nullptr)
                         : nullptr;
        const guint registration = node ? g_dbus_connection_register_object(
                                              m_connection, m_path.c_str(), node->interfaces[0],
                                              &vtable, this, nullptr, nullptr)
                                        : 0;
        guint32 code = 0;
        if (registration != 0) {
            g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
                m_connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                "org.freedesktop.DBus", "RequestName",
                g_variant_new("(su)", bus_name.c_str(), 4u /* DO_NOT_QUEUE */),
                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            if (reply) g_variant_get(reply, "(u)", &code);
        }
        started.set_value(code == 1); // primary owner
        if (code == 1) g_main_loop_run(m_loop);

        {
            std::lock_guard lock(m_mutex);
            for (auto* inv : m_pending)
                g_dbus_method_invocation_return_dbus_error(inv, "org.example.Fake.Stopped",
                                                           "stopped");
            m_pending.clear();
        }
        if (registration != 0) g_dbus_connection_unregister_object(m_connection, registration);
        if (m_connection) {
            g_dbus_connection_flush_sync(m_connection, nullptr, nullptr);
            g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
            g_object_unref(m_connection);
        }
        // Let the connection's last sources run before the context goes.
        while (g_main_context_iteration(m_context, FALSE)) {
        }
        g_main_context_pop_thread_default(m_context);
        g_main_loop_unref(m_loop);
        g_main_context_unref(m_context);
    }

    std::string m_path;
    Handler m_handler;
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    GDBusConnection* m_connection = nullptr;
    GDBusMethodInvocation* m_invocation = nullptr;
    bool m_ready = false;
    mutable std::mutex m_mutex;
    std::string m_calls;
    std::vector<GDBusMethodInvocation*> m_pending;
    std::thread m_thread;
};

// Runs the calling thread's default main context until `done` is true or
// `timeout_ms` passed; returns `done()`.
inline bool iterate_until(const std::function<bool()>& done, int timeout_ms) {
    const gint64 end = g_get_monotonic_time() + gint64{timeout_ms} * 1000;
    while (!done() && g_get_monotonic_time() < end) {
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    }
    return done();
}

// One private bus for a whole test suite and a fresh client connection for
// each test. Derive a suite from it: class MySuite : public PrivateBusTest {};
class PrivateBusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_bus = std::make_unique<PrivateBus>(); }
    static void TearDownTestSuite() { s_bus.reset(); }
    void SetUp() override {
        if (std::getenv("SPACEMOLE_RERUN")) GTEST_SKIP() << "re-run of another test";
        ASSERT_TRUE(s_bus->up());
        m_client = s_bus->connect();
        ASSERT_TRUE(m_client);
    }
    static inline std::unique_ptr<PrivateBus> s_bus;
    ConnectionPtr m_client;
};

} // namespace testing_support
