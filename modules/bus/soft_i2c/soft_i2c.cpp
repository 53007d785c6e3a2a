// Soft I2C bus module.
#include "soft_i2c.h"

#include "soft_i2c_if.h"

int soft_i2c_init(soft_i2c_t* obj, int ch) {
    if (obj == nullptr) {
        return -1;
    }
    obj->ch = ch;
    if (soft_i2c_if_init(ch) != 0) {
        obj->initialized = 0;
        return -2;
    }
    obj->initialized = 1;
    return 0;
}

int soft_i2c_start_frame(soft_i2c_t* obj) {
    return soft_i2c_if_start_frame(obj->ch);
}

int soft_i2c_send_frame(soft_i2c_t* obj, uint8_t byte) {
    return soft_i2c_if_send_frame(obj->ch, byte);
}

int soft_i2c_wait_ack_frame(soft_i2c_t* obj) {
    return soft_i2c_if_wait_ack_frame(obj->ch);
}

int soft_i2c_stop_frame(soft_i2c_t* obj) {
    return soft_i2c_if_stop_frame(obj->ch);
}

int soft_i2c_read_frame(soft_i2c_t* obj, int ack) {
    return soft_i2c_if_read_frame(obj->ch, ack);
}
