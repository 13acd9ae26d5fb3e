// The serial port handlers.  No statement of the table reaches them; they
// take their words from the argument slots by position.
#pragma once

int sys_com_open_a3_baudrate_a5_bits_a7_parity_a9_stopbit_ab();
int sys_com_send_string_a4();
int sys_com_recv_string_a4();
int sys_com_recv_time_a4_seconds();
int sys_com_send_sms_telephone_a5_message_a7();
int sys_com_close();
int sys_com_send_var_a4();
int sys_com_recv_var_a4();
int sys_com_recv_sms_a4_seconds();
