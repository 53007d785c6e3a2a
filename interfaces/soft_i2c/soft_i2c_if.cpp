// Forwarders from the soft I2C bus module to the registered bit-banged I2C port.
//
// The byte-level forwarders do not test their slot: they run once per bit-banged byte and
// the port always fills them. They do test the table, so a call before registration fails
// instead of jumping through null.
#include "soft_i2c_if.h"

namespace {
const soft_i2c_ops_t* g_soft_i2c_ops = nullptr;
}  // namespace

void soft_i2c_register_ops(const soft_i2c_ops_t* ops) {
    g_soft_i2c_ops = ops;
}

int soft_i2c_if_init(int ch) {
    if (g_soft_i2c_ops == nullptr || g_soft_i2c_ops->init == nullptr) {
        return -1;
    }
    return g_soft_i2c_ops->init(ch);
}

int soft_i2c_if_start_frame(int ch) {
    if (g_soft_i2c_ops == nullptr) {
        return -1;
    }
    return g_soft_i2c_ops->__start_frame(ch);
}

int soft_i2c_if_send_frame(int ch, uint8_t byte) {
    if (g_soft_i2c_ops == nullptr) {
        return -1;
    }
    return g_soft_i2c_ops->__send_frame(ch, byte);
}

int soft_i2c_if_wait_ack_frame(int ch) {
    if (g_soft_i2c_ops == nullptr) {
        return -1;
    }
    return g_soft_i2c_ops->__wait_ack_frame(ch);
}

int soft_i2c_if_stop_frame(int ch) {
    if (g_soft_i2c_ops == nullptr) {
        return -1;
    }
    return g_soft_i2c_ops->__stop_frame(ch);
}

int soft_i2c_if_read_frame(int ch, int ack) {
    if (g_soft_i2c_ops == nullptr) {
        return -1;
    }
    return g_soft_i2c_ops->__read_frame(ch, ack);
}
