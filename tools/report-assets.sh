#!/usr/bin/env bash
# Local copies of what Snakemake's report page embeds (React, Vega, Tailwind
# and the licence texts it shows), so that `snakemake --report` works without
# internet: the workflow reads them from this folder (tarvel_panel/report_assets.py).
#   tools/report-assets.sh [FOLDER]     (default: .report-assets in the repository,
#                                        or $TARVEL_REPORT_ASSETS)
# Needs npm and the npm registry; the licences of Snakemake and Pygments are
# Debian's copyright files. Tailwind's browser script is replaced by the CSS
# that Tailwind's own compiler makes for the classes of Snakemake's report
# template. A file already there is kept.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-${TARVEL_REPORT_ASSETS:-$repo/.report-assets}}
py() { PYTHONPATH="$repo" /usr/bin/python3 "$@"; }
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
work=$(mktemp -d)
target=
trap 'rm -rf "$work"; [ -z "$target" ] || rm -f "$target.tmp"' EXIT

# the file FILE of npm package SPEC (name@version), from its tarball
npm_file() {
  local spec=$1 file=$2 dir="$work/pkg/${1//\//_}"
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir"
    (cd "$dir" && npm pack --silent "$spec" >/dev/null && tar xzf ./*.tgz)
  fi
  for f in "$dir/package/$file" "$dir/package/umd/$file" "$dir/package/build/$file"; do
    [ -f "$f" ] && { cat "$f"; return; }
  done
  echo "report-assets: $spec has no $file" >&2
  return 1
}

# Tailwind's CSS for Snakemake's report template, as a script adding it to the page
tailwind() { # VERSION FORMS_VERSION TYPOGRAPHY_VERSION
  local tw="$work/tailwind" template
  template=$(py -c 'import os, snakemake.report as r; print(os.path.join(os.path.dirname(r.__file__), "template"))')
  mkdir -p "$tw"
  (cd "$tw" && npm install --silent --no-save --no-audit --no-fund --prefix . \
    "tailwindcss@$1" "@tailwindcss/forms@$2" "@tailwindcss/typography@$3" >/dev/null)
  cat > "$tw/tailwind.config.js" <<EOF
module.exports = {content: ["$template/**/*.jinja2", "$template/**/*.js"],
  plugins: [require("@tailwindcss/forms"), require("@tailwindcss/typography")]};
EOF
  printf '@tailwind base;\n@tailwind components;\n@tailwind utilities;\n' > "$tw/in.css"
  (cd "$tw" && BROWSERSLIST_IGNORE_OLD_DATA=1 node node_modules/tailwindcss/lib/cli.js \
    -c tailwind.config.js -i in.css -o out.css --minify 2>/dev/null)
  py -c 'import json, sys; css = open(sys.argv[1]).read()
print("(function () { var s = document.createElement(\"style\"); s.textContent = %s;"
      " document.head.appendChild(s); })();" % json.dumps(css).replace("</", "<\\/"))' "$tw/out.css"
}

# what one address of Snakemake's report stands for, on standard output
fetch() {
  local url=$1 path=${1#*://}
  case "$url" in
    https://cdnjs.cloudflare.com/ajax/libs/*)  # .../libs/NAME/VERSION/FILE
      IFS=/ read -r _ _ _ name version file <<<"$path"
      npm_file "$name@$version" "$file" ;;
    https://cdn.tailwindcss.com/*)             # VERSION?plugins=forms@X,typography@Y
      local version=${path#*/} forms typography
      version=${version%%\?*}
      forms=$(grep -o 'forms@[0-9.]*' <<<"$url"); typography=$(grep -o 'typography@[0-9.]*' <<<"$url")
      tailwind "$version" "${forms#forms@}" "${typography#typography@}" ;;
    https://raw.githubusercontent.com/snakemake/*) cat /usr/share/doc/snakemake/copyright ;;
    https://raw.githubusercontent.com/pygments/*)  cat /usr/share/doc/python3-pygments/copyright ;;
    https://raw.githubusercontent.com/*/LICENSE*)  # OWNER/REPO/BRANCH/LICENSE: the npm package REPO's
      IFS=/ read -r _ _ repo_name _ <<<"$path"
      npm_file "$repo_name" LICENSE ;;
    *) echo "report-assets: no local source known for $url" >&2; return 1 ;;
  esac
}

made=0
for url in $(py -m tarvel_panel.report_assets urls); do
  target="$dest/$(py -m tarvel_panel.report_assets name "$url")"
  [ -s "$target" ] && continue
  fetch "$url" > "$target.tmp"
  mv "$target.tmp" "$target"
  made=$((made + 1))
done
echo "report-assets: $made new in $dest"
