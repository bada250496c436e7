# Sourced by the Java test runners: runs the JUnit console launcher on a class
# path under -Xcheck:jni, prints its report and fails when the JVM reported any
# JNI warning.
# usage: run_junit_jni <java> <class path> <work dir> [-Dname=value...]
run_junit_jni() {
  local java=$1 classpath=$2 work=$3
  shift 3
  "$java" -Xcheck:jni "$@" -jar /usr/share/java/junit-platform-console-standalone.jar \
    --disable-banner --fail-if-no-tests --class-path "$classpath" --scan-class-path --details=tree \
    >"$work/out.log" 2>&1
  local rc=$?
  cat "$work/out.log"
  if grep -n 'WARNING' "$work/out.log" >&2; then
    echo "JNI warnings reported by -Xcheck:jni" >&2
    return 1
  fi
  return $rc
}
