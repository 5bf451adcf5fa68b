# Sourced by the desktop tests: functions that print script lines (the
# actions of winapi/fltk/script.h) for the steps a person takes at the
# console. The control login is admin / secret, as the tests set it up.

# Answers a prompt: CAPTION EDIT_ID TEXT. A prompt submits on the release of
# Enter; the first key release it sees (a typed letter's) only arms it.
prompt() {
  printf 'wait "%s"\ntype "%s" %s "%s"\n' "$1" "$1" "$2" "$3"
  printf 'key "%s" %s 65 up\nkey "%s" %s 13 down\nkey "%s" %s 13 up\n' "$1" "$2" "$1" "$2" "$1" "$2"
}
control_login() {
  printf 'type Velloran 2011 admin\ntype Velloran 2013 secret\nclick Velloran 2015\n'
  prompt "Confirm Control Key" 10003 secret
  printf 'wait "Velloran :: Control"\n'
}
control_logout() { printf 'click "Velloran :: Control" 2015\nwait Velloran\n'; }
# In control mode: makes the account ID KEY NAME.
make_account() {
  printf 'type "Velloran :: Control" 2011 %s\ntype "Velloran :: Control" 2013 %s\n' "$1" "$2"
  printf 'click "Velloran :: Control" 2016\n'
  prompt "Confirm your account key" 10003 "$2"
  prompt "Enter a desired user name" 10001 "$3"
  printf 'text "Velloran :: Control" 2023 "Account created"\n'
}
# Account login ID KEY, up to the open mailbox.
log_in() {
  printf 'type Velloran 2011 %s\ntype Velloran 2013 %s\nclick Velloran 2014\n' "$1" "$2"
  prompt "Confirm your account key" 10003 "$2"
  printf 'wait "Velloran :: Login :: %s"\n' "$1"
}
# Close, and Yes to the question.
close_program() { printf 'click Velloran 2019\nanswer Velloran 6\n'; }
