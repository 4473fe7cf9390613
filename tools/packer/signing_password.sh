# Sourced first by the release scripts, before any other program runs (apt-get, cmake, the
# compilers, the packer): takes the certificate's password out of the environment
# (QARV_SIGN_PASSWORD) into sign_password, a variable that is never exported, even when the
# caller exported one of that name, and sets sign_password_given when the caller gave one.
# Tracing (bash -x, SHELLOPTS=xtrace) is off on every line that expands the password, so that a
# traced run's log never holds it: trace_off before such a line, trace_on after it restores what
# the caller chose.
trace_off() { trace_was=$-; set +x; } 2>/dev/null
trace_on() { case $trace_was in *x*) set -x ;; esac; }
unset -v sign_password sign_password_given
if [ -n "${QARV_SIGN_PASSWORD+set}" ]; then
    trace_off; sign_password="$QARV_SIGN_PASSWORD"; trace_on
    sign_password_given=1
fi
unset QARV_SIGN_PASSWORD
declare +x sign_password sign_password_given
