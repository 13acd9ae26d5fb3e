-- The database, user and tables the mysql statements' tests work on.
CREATE DATABASE tarvtest CHARACTER SET utf8mb4;
CREATE USER 'tarv'@'127.0.0.1' IDENTIFIED BY 'tarv-pw';
GRANT ALL PRIVILEGES ON tarvtest.* TO 'tarv'@'127.0.0.1';
USE tarvtest;
CREATE TABLE tarv_log (log_id INT AUTO_INCREMENT PRIMARY KEY, nms_file VARCHAR(512),
  nms_errors INT, run_pid INT, cur_time DATETIME, log VARCHAR(1020), run_steps INT,
  run_line INT, run_errors INT, run_seconds INT, run_argc INT, var_count INT, var_bytes INT,
  text_bytes INT, memo VARCHAR(512));
CREATE TABLE class_list (class_id INT AUTO_INCREMENT PRIMARY KEY, class_name VARCHAR(120));
CREATE TABLE object_list (object_id INT AUTO_INCREMENT PRIMARY KEY, class_id INT,
  object_name VARCHAR(120), create_time DATETIME, memo VARCHAR(1100));
CREATE TABLE object_property (object_id INT, property_name VARCHAR(120),
  property_value_type VARCHAR(20), property_dec_value DOUBLE, property_char_value VARCHAR(1024),
  property_history VARCHAR(20), update_time DATETIME);
CREATE TABLE object_property_history (id INT AUTO_INCREMENT PRIMARY KEY, object_id INT,
  property_name VARCHAR(120), property_dec_value DOUBLE, property_char_value VARCHAR(1024),
  update_time DATETIME);
INSERT INTO class_list (class_name) VALUES ('class.NULL'), ('router');
