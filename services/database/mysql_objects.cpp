// The object statements over the tables object_list, class_list,
// object_property and object_property_history: create or open an object,
// declare a property's type and history mode, set a value (keeping its
// history) and read a value into a variable.
#include <string>
#include <string_view>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "engine/util/util.h"
#include "services/database/mysql_session.h"
#include "services/database/mysql_statements.h"
#include "services/database/sql_text.h"

namespace {

constexpr int kObjectNameMax = 120;

std::string_view Arg(int w) { return {agA[w], static_cast<size_t>(igL[w])}; }

// The property statements need a current object: 0, or -1 recorded.
int NeedObject() {
  if (sgMySql.ObjectId >= 1) return 0;
  return NmsRunError(-1, "objectId= %d  <=0  !", sgMySql.ObjectId);
}

// Runs one change; a failure (already recorded by the sequence) is recorded
// again with the statement: 0, or -13.
int Change(const std::string& sql, const SqlValues& values) {
  std::string sent;
  if (TarvMySqlExecOne(sql, values, &sent) >= 0) return 0;
  NmsRunError(-13, "TarvMySqlExecOne (%s) < 0", sent.empty() ? sql.c_str() : sent.c_str());
  return -13;
}

// Keeps the property row of the current object in the select-one row.
void SelectProperty(std::string_view property) {
  TarvMySqlSelectOne(
      SqlFormat("select property_name,property_value_type,property_dec_value,property_char_value,"
                "property_history from object_property  where object_id = %d and property_name = ?",
                sgMySql.ObjectId),
      {property});
}

int NeedFiveFields(std::string_view property) {
  if (sgMySql.FieldCount >= 5) return 0;
  NmsRunError(-12, "select object_id = %d,property_name = [%.*s],Out Fields=%d<5!!! ",
              sgMySql.ObjectId, static_cast<int>(property.size()), property.data(),
              sgMySql.FieldCount);
  return -12;
}

// The history row of a text value: its marks are the property and the value.
std::string HistoryCharSql(const std::string& now) {
  return SqlFormat(
      "insert into object_property_history (object_id,property_name,property_char_value,"
      "update_time ) VALUES (  %d , ? , ? , '%s' )",
      sgMySql.ObjectId, now.c_str());
}

// A property the object does not have yet: added as text that keeps its
// history on change, with its first history row.
int AddCharProperty(std::string_view property, std::string_view value) {
  const std::string now = SqlNow();
  const std::string add = SqlFormat(
      "insert into object_property (object_id,property_name,property_value_type,"
      "property_char_value,property_history,update_time ) VALUES (  %d , ? , 'char' , ? , "
      "'onchange' , '%s' )",
      sgMySql.ObjectId, now.c_str());
  if (const int rc = Change(add, {property, value}); rc < 0) return rc;
  if (const int rc = Change(HistoryCharSql(now), {property, value}); rc < 0) return rc;
  return TarvReturn(0, "mysql_object_property_a3_value_a5 return,auto add new object_property.");
}

}  // namespace

int MySqlObjectCreate(std::string_view name, std::string_view className) {
  TarvMySqlSelectOne("select class_id FROM  class_list where class_name = ? ", {className});
  const std::string classId(MySqlSelectOneField(1));
  const std::string cls(className);
  if (sgMySql.FieldCount < 1) {
    NmsRunError(-15, "mysql_object_create, class=[%s],Not Found!!!", cls.c_str());
    return -15;
  }
  // The class id goes into the INSERT unquoted.
  if (!SqlIsNumber(classId)) {
    NmsRunError(-15, "mysql_object_create, class=[%s],class_id=[%s] is not a number!!!",
                cls.c_str(), classId.c_str());
    return -15;
  }
  const std::string now = SqlNow();
  MySqlSession session;
  if (const int rc = session.Connect(MySqlReport::RunError); rc < 0) return rc;
  const std::string memo = "insert by <" + std::string(sgNms.FileName) + ">";
  const std::string sql = session.Fill(
      SqlFormat("INSERT INTO object_list (class_id,object_name,create_time,memo) VALUES (%s,?,'%s',"
                "? )",
                classId.c_str(), now.c_str()),
      {name, memo});
  TarvDebugLogEscaped("\nMySqlLog( %s ).", sql.c_str());
  if (const int rc = session.Query(sql, MySqlReport::RunError); rc < 0) return rc;
  const my_ulonglong id = mysql_insert_id(session.Handle());
  int rc = 0;
  if (id == 0 || id > INT32_MAX) {
    sgMySql.ObjectId = -1;
    rc = NmsRunError(-405, "mysql_insert_id: return %d <=0 Error!", 0);
  } else {
    sgMySql.ObjectId = static_cast<int32_t>(id);
  }
  TarvSetVarInt2("mysql.object.id", sgMySql.ObjectId);
  return rc;
}

int MySqlObjectOpen(std::string_view name, std::string_view selector) {
  sgMySql.ObjectId = -1;
  const std::string nameText(name);
  const std::string sel(selector);
  if (TarvIsInteger2(sel.data(), static_cast<int>(sel.size())) == 0) {
    // The id goes into the SQL as its number, never as the script's text.
    const int id = TarvAtoi(sel.c_str());
    TarvMySqlSelectOne(
        SqlFormat("select object_name from object_list  where object_id = %d ", id));
    if (sgMySql.FieldCount < 1) {
      NmsRunError(-15, "mysql_object_open,id=%d ,Not Found!!!", id);
      return -15;
    }
    if (MySqlSelectOneFieldIs(1, name) != 0) {
      NmsRunError(-15, "mysql_object_open,id=%d ,Name(%s) Not Match!!", id, nameText.c_str());
      return -15;
    }
    sgMySql.ObjectId = id;
    return 0;
  }
  const bool isNew = sel == "min/new" || sel == "max/new";
  if (!isNew && sel != "min" && sel != "max") {
    NmsRunError(-16, "mysql_object_open,id=(%s) Not Support!!!", sel.c_str());
    return -16;
  }
  TarvMySqlSelectOne(SqlFormat("select %s(object_id) from object_list  where object_name = ? ",
                               sel.starts_with("min") ? "min" : "max"),
                     {name});
  const bool found = sgMySql.FieldCount >= 1;
  if (found && MySqlSelectOneFieldIs(1, "NULL") != 0) {
    sgMySql.ObjectId = TarvAtoi(std::string(MySqlSelectOneField(1)).c_str());
    return 0;
  }
  if (isNew) return MySqlObjectCreate(name, "class.NULL");
  const int code = sel == "min" && !found ? -16 : -17;
  NmsRunError(code, "mysql_object_open,name=(%s) ,Not Found!!!", nameText.c_str());
  return code;
}

int mysql_object_create_a3_class_a5() {
  HandlerBegin();
  sgMySql.ObjectId = -1;
  if (const int rc = ArgCheckLength(3, kObjectNameMax, -3); rc != 0) return rc;
  if (const int rc = ArgCheckLength(5, kObjectNameMax, -5); rc != 0) return rc;
  MySqlObjectCreate(Arg(3), Arg(5));
  return TarvReturn(0, "mysql_object_create_a3_class_a5 return.");
}

int mysql_object_open_a3() {
  HandlerBegin();
  sgMySql.ObjectId = -1;
  if (const int rc = ArgCheckLength(3, kObjectNameMax, -3); rc != 0) return rc;
  // The selector is word 5, which this statement's pattern does not have.
  if (const int rc = ArgCheckLength(5, 12, -5); rc != 0) return rc;
  if (const int rc = MySqlObjectOpen(Arg(3), Arg(5)); rc < 0) return rc;
  return TarvReturn(0, "mysql_object_open_a3 return,ok!");
}

int mysql_object_property_a3_type_a5_log_a7() {
  HandlerBegin();
  if (const int rc = NeedObject(); rc != 0) return rc;
  if (const int rc = ArgCheckLength(3, kObjectNameMax, -3); rc != 0) return rc;
  if (const int rc = ArgCheckLength(5, 20, -5); rc != 0) return rc;
  if (const int rc = ArgCheckLength(7, 20, -7); rc != 0) return rc;
  const std::string_view property = Arg(3);
  const std::string_view type = Arg(5);
  const std::string_view history = Arg(7);
  TarvMySqlSelectOne(SqlFormat("select object_id,property_name,property_value_type,property_history "
                               "from object_property  where object_id = %d and property_name = ?",
                               sgMySql.ObjectId),
                     {property});
  const std::string now = SqlNow();
  if (sgMySql.FieldCount >= 1) {
    const int rc = Change(
        SqlFormat("update  object_property set property_value_type = ? , property_history = ? , "
                  "update_time = '%s'  where object_id = %d and property_name = ?",
                  now.c_str(), sgMySql.ObjectId),
        {type, history, property});
    if (rc < 0) return rc;
    return TarvReturn(0, "mysql_object_property_a3_type_a5_log_a7 return. update ok.");
  }
  const int rc = Change(
      SqlFormat("insert into object_property (object_id,property_name,property_value_type,"
                "property_history,update_time ) VALUES (  %d , ? ,  ? ,  ? ,  '%s' )",
                sgMySql.ObjectId, now.c_str()),
      {property, type, history});
  if (rc < 0) return rc;
  return TarvReturn(0, "mysql_object_property_a3_type_a5_log_a7 return. add new object_property.");
}

int mysql_object_property_a3_value_a5() {
  HandlerBegin();
  if (const int rc = NeedObject(); rc != 0) return rc;
  if (const int rc = ArgCheckLength(3, 62, -3); rc != 0) return rc;
  if (const int rc = ArgCheckLength(5, 1020, -5); rc != 0) return rc;
  const std::string_view property = Arg(3);
  const std::string_view value = Arg(5);
  SelectProperty(property);
  if (sgMySql.Rows < 1) return AddCharProperty(property, value);
  if (const int rc = NeedFiveFields(property); rc != 0) return rc;

  const bool dec = MySqlSelectOneFieldIs(2, "dec") == 0;
  bool log = MySqlSelectOneFieldIs(5, "yes") == 0;
  if (MySqlSelectOneFieldIs(5, "onchange") == 0)
    log = MySqlSelectOneFieldIs(dec ? 3 : 4, value) != 0;
  // A number goes into the SQL unquoted, so it must be one.
  if (dec && !SqlIsNumber(value)) return NmsRunError(-5, "Arg:5 is not number !");

  const std::string now = SqlNow();
  // A number goes in as its text (checked above), a text as a quoted value.
  const std::string set =
      dec ? SqlFormat("update  object_property set property_dec_value = %s , update_time = '%s' "
                      " where object_id = %d and property_name = ?",
                      std::string(value).c_str(), now.c_str(), sgMySql.ObjectId)
          : SqlFormat("update  object_property set property_char_value = ? , update_time = "
                      "'%s'  where object_id = %d and property_name = ?",
                      now.c_str(), sgMySql.ObjectId);
  if (const int rc = Change(set, dec ? SqlValues{property} : SqlValues{value, property}); rc < 0)
    return rc;
  if (log) {
    const std::string history =
        dec ? SqlFormat("insert into object_property_history (object_id,property_name,"
                        "property_dec_value,update_time ) VALUES (  %d , ? , %s , '%s' )",
                        sgMySql.ObjectId, std::string(value).c_str(), now.c_str())
            : HistoryCharSql(now);
    if (const int rc = Change(history, dec ? SqlValues{property} : SqlValues{property, value});
        rc < 0)
      return rc;
  }
  if (dec)
    return TarvReturn(0, log ? "mysql_object_property_a3_value_a5 return.(dec/log)"
                             : "mysql_object_property_a3_value_a5 return.(dec/TARV_NOT_LOG)");
  return TarvReturn(0, log ? "mysql_object_property_a3_value_a5 return.(char/log)"
                           : "mysql_object_property_a3_value_a5 return.(char/TARV_NOT_LOG)");
}

int mysql_object_get_var_a4_property_a6() {
  HandlerBegin();
  if (const int rc = NeedObject(); rc != 0) return rc;
  if (const int rc = ArgCheckLength(4, 62, -4); rc != 0) return rc;
  if (const int rc = ArgCheckLength(6, 62, -6); rc != 0) return rc;
  // Word 4 names the property and word 6 the variable.
  const std::string_view property = Arg(4);
  SelectProperty(property);
  if (sgMySql.Rows < 1) {
    NmsRunError(-11, "object_id = %d,property_name = [%.*s],Not Found!", sgMySql.ObjectId,
                static_cast<int>(property.size()), property.data());
    return -11;
  }
  if (const int rc = NeedFiveFields(property); rc != 0) return rc;
  const std::string_view value = MySqlSelectOneField(MySqlSelectOneFieldIs(2, "dec") == 0 ? 3 : 4);
  TarvSetVar4(agA[6], igL[6], value.data(), static_cast<int>(value.size()));
  return TarvReturn(0, "mysql_object_get_var_a4_property_a6 return.");
}
