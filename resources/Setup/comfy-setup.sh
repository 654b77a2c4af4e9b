#!/bin/bash
# Completes a Comfy Desktop instance for 岚舟's local image-to-image work:
#   comfy-setup.sh install INSTANCE MODEL_ROOT NODE_FOLDER
# Downloads the four model files into MODEL_ROOT (resumably, each checked by its exact size),
# copies the GGUF node folder into the instance and installs its Python package into the
# instance's virtual environment. Every report is one line "event|message" on standard output.
#
# A download in progress lives in "<file>.part" and becomes the file only at its exact size; a
# complete file is never written over. Hanging up (the workbench quitting) keeps the partial
# file for the next run; interrupting or terminating (a user's cancel) removes it.
set -u

report() { printf '%s|%s\n' "$1" "$2"; }
fail() { report error "$1"; exit 1; }

# relative path, exact size, alternative accepted size (0: none), address
MODELS=(
  "diffusion_models/flux-2-klein-4b-Q4_K_M.gguf 2604311104 0 https://huggingface.co/unsloth/FLUX.2-klein-4B-GGUF/resolve/main/flux-2-klein-4b-Q4_K_M.gguf"
  "text_encoders/qwen_3_4b_fp4_flux2.safetensors 3848213998 0 https://huggingface.co/Comfy-Org/flux2-klein/resolve/main/split_files/text_encoders/qwen_3_4b_fp4_flux2.safetensors"
  "vae/flux2-vae.safetensors 336211292 336213556 https://huggingface.co/Comfy-Org/flux2-dev/resolve/main/split_files/vae/flux2-vae.safetensors"
  "upscale_models/realesr-general-x4v3.pth 4885111 0 https://github.com/xinntao/Real-ESRGAN/releases/download/v0.2.5.0/realesr-general-x4v3.pth"
)

[ "${1:-}" = install ] && [ $# -eq 4 ] || fail "用法：comfy-setup.sh install 实例目录 模型目录 节点目录"
INSTANCE=$2
MODEL_ROOT=$3
NODE_SOURCE=$4
case "$INSTANCE$MODEL_ROOT$NODE_SOURCE" in *$'\n'*) fail "路径中不能有换行" ;; esac
case "$INSTANCE" in /*) ;; *) fail "实例目录必须是绝对路径" ;; esac
case "$MODEL_ROOT" in /*) ;; *) fail "模型目录必须是绝对路径" ;; esac
[ -f "$INSTANCE/ComfyUI/main.py" ] || fail "找不到 ComfyUI 实例：$INSTANCE"
[ -f "$NODE_SOURCE/nodes.py" ] || fail "安装包中的 ComfyUI-GGUF 节点不完整"
command -v curl >/dev/null 2>&1 || fail "需要 curl 才能下载模型（sudo apt-get install curl）"

size_of() { stat -c %s -- "$1" 2>/dev/null || echo 0; }
# Tests point the downloads at a local server; the file's relative path follows the base.
address_of() {
  if [ -n "${TIDEWICK_TEST_MODEL_BASE_URL:-}" ]; then echo "${TIDEWICK_TEST_MODEL_BASE_URL%/}/$1"; else echo "$2"; fi
}

CURL_PID=
CURRENT_PART=
stop_download() {
  [ -n "$CURL_PID" ] && kill "$CURL_PID" 2>/dev/null
  [ -n "$CURL_PID" ] && wait "$CURL_PID" 2>/dev/null
}
trap 'stop_download; exit 129' HUP
trap 'stop_download; [ -n "$CURRENT_PART" ] && rm -f -- "$CURRENT_PART"; report cancelled "已取消，未完成的下载已删除"; exit 130' INT TERM

download() {  # relative expected alternative address
  local relative=$1 expected=$2 alternative=$3 target="$MODEL_ROOT/$1" name=${1##*/}
  local size
  size=$(size_of "$target")
  if [ -e "$target" ]; then
    if [ "$size" = "$expected" ] || [ "$size" = "$alternative" ]; then
      report ready "$name 已就绪"
      return 0
    fi
    report error "$name 已存在但大小不符（$size 字节，应为 $expected），请删除后再试"
    return 1
  fi
  mkdir -p -- "${target%/*}" || { report error "无法创建目录 ${target%/*}"; return 1; }
  CURRENT_PART="$target.part"
  local part_size
  part_size=$(size_of "$CURRENT_PART")
  if [ "$part_size" -gt "$expected" ]; then
    # Longer than the file can be: no resume will ever make it right.
    rm -f -- "$CURRENT_PART"
    part_size=0
  fi
  if [ "$part_size" -lt "$expected" ]; then
    report download "正在下载 $name（已有 $part_size / $expected 字节）"
    curl --fail --location --silent --show-error --proto =https,http --retry 2 \
      --max-filesize "$expected" -C - --output "$CURRENT_PART" -- "$(address_of "$relative" "$4")" 2>/dev/null &
    CURL_PID=$!
    wait "$CURL_PID"
    local status=$?
    CURL_PID=
    if [ "$status" -ne 0 ]; then
      report error "$name 下载中断（curl $status），再次运行会从断点继续"
      return 1
    fi
  fi
  part_size=$(size_of "$CURRENT_PART")
  if [ "$part_size" != "$expected" ]; then
    report error "$name 大小校验失败（$part_size 字节，应为 $expected）"
    [ "$part_size" -gt "$expected" ] && rm -f -- "$CURRENT_PART"
    return 1
  fi
  # -n: a complete file that appeared meanwhile stays as it is.
  mv -n -- "$CURRENT_PART" "$target" && [ ! -e "$CURRENT_PART" ] || { report error "$name 已存在，未覆盖"; return 1; }
  CURRENT_PART=
  report ready "$name 已就绪"
}

failed=0
for model in "${MODELS[@]}"; do
  # shellcheck disable=SC2086
  download $model || failed=1
  CURRENT_PART=
done

NODE_TARGET="$INSTANCE/ComfyUI/custom_nodes/ComfyUI-GGUF"
if [ -f "$NODE_TARGET/nodes.py" ]; then
  report ready "ComfyUI-GGUF 节点已存在"
else
  report step "正在安装 ComfyUI-GGUF 节点"
  staging="$INSTANCE/ComfyUI/custom_nodes/.ComfyUI-GGUF.tidewick-$$"
  rm -rf -- "$staging"
  if mkdir -p -- "$INSTANCE/ComfyUI/custom_nodes" && cp -R -- "$NODE_SOURCE" "$staging" && mv -T -- "$staging" "$NODE_TARGET"; then
    report ready "ComfyUI-GGUF 节点已安装"
  else
    rm -rf -- "$staging"
    report error "无法安装 ComfyUI-GGUF 节点"
    failed=1
  fi
fi

PYTHON="$INSTANCE/ComfyUI/.venv/bin/python"
if compgen -G "$INSTANCE/ComfyUI/.venv/lib/python*/site-packages/gguf/__init__.py" >/dev/null; then
  report ready "Python 依赖 gguf 已安装"
elif [ ! -x "$PYTHON" ]; then
  report error "找不到实例的 Python 环境：$PYTHON"
  failed=1
else
  report step "正在安装 Python 依赖 gguf"
  if "$PYTHON" -m pip install --disable-pip-version-check -r "$NODE_SOURCE/requirements.txt" >/dev/null 2>&1 ||
     { command -v uv >/dev/null 2>&1 && uv pip install --python "$PYTHON" -r "$NODE_SOURCE/requirements.txt" >/dev/null 2>&1; }; then
    report ready "Python 依赖 gguf 已安装"
  else
    report error "Python 依赖 gguf 安装失败"
    failed=1
  fi
fi

exit "$failed"
