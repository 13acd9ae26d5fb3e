CREATE TABLE tarv_log(
	log_id INTEGER PRIMARY KEY   AUTOINCREMENT,
	nms_file varchar(512),
	nms_errors integer,
	run_pid integer,
	cur_time datetime,
	log varchar(1020),
	run_steps integer,
	run_line integer,
	run_errors integer,
	run_seconds integer,
	run_argc integer,
	var_count integer,
	var_bytes integer,
	text_bytes integer,
	memo varchar(512) );
CREATE TABLE tarv_var(
	ID INTEGER PRIMARY KEY   AUTOINCREMENT,
	var_name varchar(64),
	update_time datetime,
	var_value varchar(1024) );
