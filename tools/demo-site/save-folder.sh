# Sourced by run.sh: the download folder the program will use, read from its settings file.
# The program keeps it under [设置] 下载文件保存路径, which the settings file writes with %U
# escapes; without a stored folder it is the default one given.
demo_save_folder() {
  local ini="$1" fallback="$2" value=""
  if [ -f "$ini" ]; then
    value="$(awk -F= '
      /^\[/ { section = tolower($0) }
      section == "[%u8bbe%u7f6e]" && tolower($1) == "%u4e0b%u8f7d%u6587%u4ef6%u4fdd%u5b58%u8def%u5f84" {
        sub(/^[^=]*=/, ""); print; exit
      }' "$ini")"
    value="${value#\"}"
    value="${value%\"}"
  fi
  if [ -z "$value" ]; then
    value="$fallback"
  fi
  case "$value" in
    "~/"*) value="$HOME/${value#\~/}" ;;
  esac
  printf '%s\n' "$value"
}
