// Forwarders from the motor driver to the registered CAN port.
#include "can_if.h"

namespace {
const can_ops_t* g_can_ops = nullptr;
}  // namespace

void can_register_ops(const can_ops_t* ops) {
    g_can_ops = ops;
}

int can_if_init(int ch) {
    if (g_can_ops == nullptr || g_can_ops->init == nullptr) {
        return -1;
    }
    return g_can_ops->init(ch);
}

int can_if_send(int ch, const can_message_t* msg) {
    if (g_can_ops == nullptr || g_can_ops->send == nullptr) {
        return -1;
    }
    return g_can_ops->send(ch, msg);
}

int can_if_recv(int ch, can_message_t* msg) {
    if (g_can_ops == nullptr || g_can_ops->recv == nullptr) {
        return -1;
    }
    return g_can_ops->recv(ch, msg);
}
