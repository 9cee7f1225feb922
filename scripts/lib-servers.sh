# Start and stop the project's web servers from bash: the node's lighttpd,
# which runs the program as CGI at /plugin_files, and the nginx hub, which
# relays /plugins?plugin=files&node=N&... to node N. Every server binds
# 127.0.0.1, runs in the foreground as a child of the calling shell and is
# stopped by its PID. Configs are filled from deploy/ into one temporary
# directory; nothing outside it is written (no system config, no service).
#
# Source it (". scripts/lib-servers.sh"), then typically:
#   trap srv_cleanup EXIT
#   prog=$(srv_build)
#   srv_start_node a "" "$prog" "/srv/one;/srv/two"     # port chosen freely
#   srv_start_hub hub "" "a=$SRV_PORT"
#
# Functions (all return non-zero on failure, with a message on stderr):
#   srv_install PACKAGE...
#       Install the Debian packages that dpkg does not have, without their
#       recommendations. Runs apt-get (once updated) only when something is
#       missing; needs root then. Every script of the project installs
#       through here.
#   srv_ensure TEST:PACKAGE...
#       srv_install for the packages whose TEST is missing. TEST is a command
#       name, or an absolute path that must exist.
#   srv_npm
#       npm ci in the repository when node_modules is older than the lock
#       file or missing: the page's build reads the highlighting library
#       from it.
#   srv_build [BUILD_DIR [CMAKE_ARG...]]
#       Configure and build the program (Release, Ninja) into BUILD_DIR,
#       default build/ in the repository, installing the headers and
#       archives of the libraries it links (SRV_BUILD_LIBS) and the npm
#       packages first when they are missing; prints the program's path.
#   srv_port_open PORT
#       True when something accepts connections on 127.0.0.1:PORT.
#   srv_free_port
#       Prints a random port in 20000-59999 on which nothing listens.
#   srv_wait_port PORT [PID] [SECONDS]
#       Waits until 127.0.0.1:PORT accepts a connection. Fails after SECONDS
#       (default 10) or as soon as process PID has exited.
#   srv_start_node NAME PORT PROGRAM ROOTS [PASSWORD]
#       Starts lighttpd for one node. ROOTS is the ";"-separated list handed
#       to the program as FILES_ALLOWED_ROOT; PASSWORD, when not empty,
#       becomes its KIV_PASSWORD; FILES_ALLOWED_HOSTS, FILES_RAW_LIMIT,
#       FILES_LS_MAX, FILES_ZIP_MAX_ENTRIES, FILES_ZIP_MAX_BYTES,
#       FILES_HEAVY_MAX, the search limits (FILES_FIND_MAX_RESULTS,
#       FILES_SEARCH_SECONDS, FILES_GREP_MAX_BYTES, FILES_GREP_MAX_FILE) and
#       FILES_THUMB_MAX_PIXELS pass on from the caller's environment. An empty
#       PORT picks a free one. When SRV_AS names a user (the caller being
#       root), lighttpd runs as that user from its start, the program with it.
#   srv_run_as USER CMD...
#       Replaces the calling (sub)shell by CMD, run as USER with USER's
#       groups (root only); by CMD as it is when USER is empty.
#   srv_start_hub NAME PORT NODE=NODEPORT...
#       Starts the nginx hub relaying to the given nodes on 127.0.0.1.
#   srv_stop PID
#       Stops one server started here (nginx by QUIT, lighttpd by TERM),
#       waits for it, and kills it if it has not gone after 5 seconds.
#   srv_stop_all
#       Stops every server started here, the last started first.
#   srv_cleanup
#       srv_stop_all, then removes the temporary directory. Meant for a trap.
#
# Variables set:
#   SRV_BUILD_LIBS  TEST:PACKAGE pairs (for srv_ensure) of the libraries the
#              program links: zlib and the picture libraries
#   SRV_REPO   the repository root (found from this file's location)
#   SRV_DIR    the temporary directory, made on the first start
#   SRV_PID, SRV_PORT, SRV_HTDOCS
#              PID, port and static-file directory of the last server
#              started; a file put in SRV_HTDOCS is served at /NAME.
#   SRV_PIDS   every PID started and not yet stopped, in start order

SRV_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SRV_BUILD_LIBS=(/usr/include/zlib.h:zlib1g-dev /usr/include/jpeglib.h:libjpeg62-turbo-dev /usr/include/png.h:libpng-dev
  /usr/include/webp/decode.h:libwebp-dev /usr/include/gif_lib.h:libgif-dev /usr/include/stb/stb_image.h:libstb-dev)
SRV_DIR=${SRV_DIR:-}
SRV_PIDS=()
declare -A SRV_KIND=()

srv_install() {
  local p missing=()
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  if ((EUID != 0)); then
    echo "missing packages: ${missing[*]} (install them as root)" >&2
    return 1
  fi
  echo "installing: ${missing[*]}" >&2
  DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2 &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

srv_ensure() {
  local want check missing=()
  for want in "$@"; do
    check=${want%%:*}
    if [[ $check == /* ]]; then
      [[ -e $check ]] && continue
    else
      command -v "$check" >/dev/null 2>&1 && continue
    fi
    missing+=("${want#*:}")
  done
  srv_install "${missing[@]}"
}

srv_npm() {
  local stamp=$SRV_REPO/node_modules/.package-lock.json
  [[ -e $stamp && ! $SRV_REPO/package-lock.json -nt $stamp ]] && return 0
  srv_ensure npm:npm >&2 && (cd "$SRV_REPO" && npm ci --silent --no-audit --no-fund >&2)
}

srv_build() {
  local dir=${1:-$SRV_REPO/build}
  shift $(($# ? 1 : 0))
  srv_ensure "${SRV_BUILD_LIBS[@]}" >&2 && srv_npm || return 1
  cmake -S "$SRV_REPO" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >&2 &&
    cmake --build "$dir" >&2 &&
    echo "$dir/plugin_files"
}

srv_port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

srv_free_port() {
  local port tries
  for ((tries = 0; tries < 50; tries++)); do
    port=$((20000 + RANDOM % 40000))
    srv_port_open "$port" || { echo "$port"; return 0; }
  done
  echo "no free port found" >&2
  return 1
}

srv_wait_port() {
  local port=$1 pid=${2:-} secs=${3:-10} i
  for ((i = 0; i < secs * 50; i++)); do
    srv_port_open "$port" && return 0
    if [[ -n $pid ]] && ! kill -0 "$pid" 2>/dev/null; then
      echo "server $pid exited before listening on $port" >&2
      return 1
    fi
    sleep 0.02
  done
  echo "nothing listens on 127.0.0.1:$port after ${secs}s" >&2
  return 1
}

srv_tmpdir() {
  [[ -n $SRV_DIR && -d $SRV_DIR ]] && return 0
  SRV_DIR=$(mktemp -d "${TMPDIR:-/tmp}/plugin_files-servers.XXXXXX") || return 1
  # nginx workers run unprivileged and must reach the static files.
  chmod 755 "$SRV_DIR"
}

# srv_fill TEMPLATE OUT KEY=VALUE...: replace each @KEY@ by VALUE. Values are
# ports, names and paths made by mktemp, never user data.
srv_fill() {
  local template=$1 out=$2 text pair
  shift 2
  text=$(<"$template")
  for pair in "$@"; do
    text=${text//@${pair%%=*}@/${pair#*=}}
  done
  printf '%s\n' "$text" >"$out"
}

# srv_launch KIND NAME PORT CMD...: start CMD in the background (it must not
# fork away), record it, wait for its port. An empty PORT retries with new
# free ports, since another process may take a port between check and bind.
srv_launch() {
  local kind=$1 name=$2 port=$3 dir tries
  shift 3
  for ((tries = 0; tries < 5; tries++)); do
    SRV_PORT=${port:-$(srv_free_port)} || return 1
    "srv_config_$kind" "$name" "$SRV_PORT" || return 1
    dir=$SRV_DIR/$name
    "$@" "$dir/$kind.conf" >>"$dir/stdout.log" 2>&1 &
    SRV_PID=$!
    SRV_PIDS+=("$SRV_PID")
    SRV_KIND[$SRV_PID]=$kind
    SRV_HTDOCS=$dir/htdocs
    srv_wait_port "$SRV_PORT" "$SRV_PID" 2>/dev/null && return 0
    srv_stop "$SRV_PID"
    if [[ -n $port ]]; then
      echo "$kind '$name' did not start on 127.0.0.1:$port; see $dir/error.log:" >&2
      tail -n 5 "$dir/error.log" "$dir/stdout.log" >&2 2>/dev/null
      return 1
    fi
  done
  echo "$kind '$name' did not start" >&2
  return 1
}

srv_config_lighttpd() {
  local dir=$SRV_DIR/$1
  mkdir -p "$dir/htdocs" &&
    srv_fill "$SRV_REPO/deploy/lighttpd.conf.in" "$dir/lighttpd.conf" "PORT=$2" "DIR=$dir"
}

srv_config_nginx() {
  local dir=$SRV_DIR/$1 user=
  ((EUID == 0)) && user="user nobody nogroup;"
  mkdir -p "$dir/htdocs" && chmod 755 "$dir" "$dir/htdocs" &&
    srv_fill "$SRV_REPO/deploy/nginx-hub.conf.in" "$dir/nginx.conf" \
      "PORT=$2" "DIR=$dir" "USER=$user" "NODES=$SRV_NODE_MAP"
}

srv_start_node() {
  local name=$1 port=$2 program=$3 roots=$4 password=${5:-}
  srv_tmpdir || return 1
  if [[ ! -x $program ]]; then
    echo "no program at $program" >&2
    return 1
  fi
  # The other settings pass through from the caller's environment, empty
  # when unset (the program's defaults).
  PLUGIN_FILES_PROGRAM=$(realpath "$program") FILES_ALLOWED_ROOT=$roots KIV_PASSWORD=$password \
    FILES_ALLOWED_HOSTS=${FILES_ALLOWED_HOSTS:-} FILES_RAW_LIMIT=${FILES_RAW_LIMIT:-} \
    FILES_LS_MAX=${FILES_LS_MAX:-} FILES_ZIP_MAX_ENTRIES=${FILES_ZIP_MAX_ENTRIES:-} \
    FILES_ZIP_MAX_BYTES=${FILES_ZIP_MAX_BYTES:-} FILES_HEAVY_MAX=${FILES_HEAVY_MAX:-} \
    FILES_FIND_MAX_RESULTS=${FILES_FIND_MAX_RESULTS:-} FILES_SEARCH_SECONDS=${FILES_SEARCH_SECONDS:-} \
    FILES_GREP_MAX_BYTES=${FILES_GREP_MAX_BYTES:-} FILES_GREP_MAX_FILE=${FILES_GREP_MAX_FILE:-} \
    FILES_THUMB_MAX_PIXELS=${FILES_THUMB_MAX_PIXELS:-} \
    srv_launch lighttpd "$name" "$port" srv_run_as "${SRV_AS:-}" lighttpd -D -f
}

srv_run_as() {
  local user=$1
  shift
  [[ -n $user ]] || exec "$@"
  exec setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups -- "$@"
}

srv_start_hub() {
  local name=$1 port=$2 pair dir
  shift 2
  srv_tmpdir || return 1
  SRV_NODE_MAP=
  for pair in "$@"; do
    SRV_NODE_MAP+="    ${pair%%=*} 127.0.0.1:${pair#*=};"$'\n'
  done
  dir=$SRV_DIR/$name
  srv_launch nginx "$name" "$port" nginx -p "$dir" -e "$dir/error.log" -g "daemon off;" -c
}

srv_stop() {
  local pid=$1 i sig=TERM kept=() p children=()
  [[ ${SRV_KIND[$pid]:-} == nginx ]] && sig=QUIT
  if kill -0 "$pid" 2>/dev/null; then
    # nginx workers outlive a master that had to be killed: remember them by PID.
    mapfile -t children < <(ps -o pid= --ppid "$pid" 2>/dev/null)
    kill "-$sig" "$pid" 2>/dev/null || true
    for ((i = 0; i < 250; i++)); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.02
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null || true
      for p in "${children[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
    fi
  fi
  # The server's own exit status says nothing here; callers may run under set -e.
  wait "$pid" 2>/dev/null || true
  unset "SRV_KIND[$pid]"
  for p in "${SRV_PIDS[@]}"; do [[ $p != "$pid" ]] && kept+=("$p"); done
  SRV_PIDS=("${kept[@]}")
  return 0
}

srv_stop_all() {
  local i
  for ((i = ${#SRV_PIDS[@]} - 1; i >= 0; i--)); do
    srv_stop "${SRV_PIDS[i]}"
  done
}

srv_cleanup() {
  srv_stop_all
  if [[ -n $SRV_DIR && -d $SRV_DIR ]]; then
    rm -rf -- "$SRV_DIR"
  fi
  SRV_DIR=
}
