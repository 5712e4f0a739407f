#include "engine/X11Windows.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QByteArray property(xcb_connection_t *c, xcb_window_t w, xcb_atom_t name, xcb_atom_t type)
{
    if (name == XCB_ATOM_NONE)
        return {};
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, name, type, 0, 1024), nullptr),
        &std::free);
    if (!reply)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

QRect geometryOf(xcb_connection_t *c, xcb_window_t w, xcb_window_t root)
{
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr),
                                      &std::free);
    if (!g)
        return {};
    Reply<xcb_translate_coordinates_reply_t> t(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr),
        &std::free);
    return QRect(t ? t->dst_x : g->x, t ? t->dst_y : g->y, g->width, g->height);
}

bool viewable(xcb_connection_t *c, xcb_window_t w)
{
    Reply<xcb_get_window_attributes_reply_t> a(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr), &std::free);
    return a && a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect;
}

} // namespace

QList<X11Windows::Window> X11Windows::list(int max)
{
    QList<Window> windows;
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c)
        return windows;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
    const xcb_atom_t netName = atom(c, "_NET_WM_NAME");
    // The window manager's list when one runs; otherwise the root's mapped children.
    QList<xcb_window_t> candidates;
    const QByteArray clients = property(c, root, atom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    for (qsizetype i = 0; i + 4 <= clients.size(); i += 4)
        candidates.append(*reinterpret_cast<const xcb_window_t *>(clients.constData() + i));
    if (candidates.isEmpty()) {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr), &std::free);
        if (tree) {
            const xcb_window_t *children = xcb_query_tree_children(tree.get());
            for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
                candidates.append(children[i]);
        }
    }
    for (const xcb_window_t w : candidates) {
        if (windows.size() >= max || !viewable(c, w))
            continue;
        QString title = QString::fromUtf8(property(c, w, netName, utf8));
        if (title.isEmpty())
            title = QString::fromLocal8Bit(property(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING));
        // WM_CLASS holds the instance and the class name, each NUL-terminated.
        const QList<QByteArray> wmClass =
            property(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
        const QString application = QString::fromLocal8Bit(wmClass.value(1, wmClass.value(0)));
        if (title.isEmpty() && application.isEmpty())
            continue;
        windows.append({w, title, application, geometryOf(c, w, root)});
    }
    return windows;
}
