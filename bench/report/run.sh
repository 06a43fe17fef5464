# figure: daily report on a generated recording; monthly and HACCP reports of a month of 16 devices at 1 s
b="$QK_BUILD/bench/report/bench_report"
if qk_need "report" "$b"; then
    QT_QPA_PLATFORM=offscreen qk_run "$b"
fi

# The monthly and the HACCP report of January 2026 (31 days of 16 devices at
# 1 s, 42.8 M rows, with the stretch figures a recorder keeps beside them)
# out of the 59-day recording, each timed from process
# start to PDF on disk (warm cache: one run first, which also checks the
# file's time order once), with its peak resident memory (VmHWM); the anchor,
# interleaved run by run, is one sqlite3 scan of the same id range with
# GROUP BY serialno (count, min, max, avg of both channels).
prog="$QK_BUILD/DavavoZurer"
db="$QK_DATA/days-59.dat"
if qk_need "period reports" "$prog" sqlite3 /usr/bin/time; then
    # Made once; a file made before qk-gendb kept stretch figures gets them.
    "$QK_BUILD/bench/gendb/qk-gendb" --days 59 --out "$db" >>"$QK_LOG" 2>&1
    dir=$(mktemp -d)
    ln -s "$db" "$dir/month.dat"
    # month.qlk: limits the readings cross at every peak (122,958 excursions,
    # a PDF of some 3,200 pages); quiet.qlk: limits the readings stay within
    # (a month without excursions, a few pages).
    project() { # FILE CH1_MIN CH1_MAX CH2_MIN CH2_MAX
        local nodes="" i serial
        for i in $(seq 1 16); do
            serial=$(printf 'QKBENCH%011d' "$i")
            nodes="$nodes${nodes:+,}{\\\"StartAddress\\\":\\\"0\\\",\\\"DeviceName\\\":\\\"Room $i\\\",\\\"DeviceNumber\\\":\\\"$serial\\\",\\\"Ch1Name\\\":\\\"Temperature\\\",\\\"Ch2Name\\\":\\\"Humidity\\\",\\\"ch1_unit\\\":\\\"1\\\",\\\"ch1_min\\\":\\\"$2\\\",\\\"ch1_max\\\":\\\"$3\\\",\\\"ch1_custom\\\":\\\"\\\",\\\"ch2_unit\\\":\\\"3\\\",\\\"ch2_min\\\":\\\"$4\\\",\\\"ch2_max\\\":\\\"$5\\\",\\\"ch2_custom\\\":\\\"\\\"}"
        done
        {
            printf '[General]\nprojectName=bench\nDataInterval=1000\ndatabaseName=month.dat\n'
            printf 'record_start_time=2026-01-01 00:00:00\nrecord_stop_time=2026-02-28 23:59:59\n'
            printf 'DeviceList="{\\"devices\\":[{\\"DeviceInterface\\":\\"127.0.0.1\\",\\"DevicePort\\":\\"1502\\",\\"DeviceModel\\":\\"QA100\\",\\"nodes\\":[%s]}]}"\n' "$nodes"
        } >"$1"
    }
    project "$dir/month.qlk" 2.00 6.50 0.00 0.00
    project "$dir/quiet.qlk" 0.00 8.00 20.00 90.00
    # The id range of January, by a binary search over id (rows in time order).
    first_id() { # smallest id with pointDate >= $1
        local lo=1 hi mid t
        hi=$(sqlite3 "$db" "select max(id) from fennolink")
        while [ "$lo" -lt "$hi" ]; do
            mid=$(((lo + hi) / 2))
            t=$(sqlite3 "$db" "select pointDate from fennolink where id >= $mid order by id limit 1")
            if [ "$t" -lt "$1" ]; then lo=$((mid + 1)); else hi=$mid; fi
        done
        echo "$lo"
    }
    from=$(first_id 1767225600)             # 2026-01-01 00:00 UTC
    to=$(($(first_id 1769904000) - 1))      # 2026-02-01 00:00 UTC
    anchor="select serialno, count(*), min(channel1), max(channel1), avg(channel1), min(channel2), max(channel2), avg(channel2) from fennolink where id between $from and $to group by serialno"
    # The floor of any report that reads every row: sqlite3 itself stepping
    # the same rows, every column taken, the two halves at once on two
    # processes (as the report reads them on two connections).
    middle=$(((from + to) / 2))
    step="select count(*), sum(length(serialno)), sum(channel1), sum(channel2), sum(pointDate) from fennolink where id between"
    floor() {
        sqlite3 "$db" "$step $from and $middle" >/dev/null &
        sqlite3 "$db" "$step $((middle + 1)) and $to" >/dev/null
        wait
    }
    now() { date +%s.%N; }
    for kind in month haccp quiet quiethaccp; do
        case $kind in
        month) args=(--month 2026-01) qlk=month.qlk name="monthly report" ;;
        haccp) args=(--haccp --from 2026-01-01 --to 2026-01-31) qlk=month.qlk name="HACCP report" ;;
        quiet) args=(--month 2026-01) qlk=quiet.qlk name="monthly report, no excursion" ;;
        quiethaccp) args=(--haccp --from 2026-01-01 --to 2026-01-31) qlk=quiet.qlk name="HACCP report, no excursion" ;;
        esac
        report() { TZ=UTC QT_QPA_PLATFORM=offscreen /usr/bin/time -f %M -o "$dir/mem" "$prog" "${args[@]}" "$@" --pdf "$dir/$kind.pdf" "$dir/$qlk" >>"$QK_LOG" 2>&1; }
        report # warm-up
        ratios="" floors="" walls="" floorwalls="" mems="" everys=""
        for run in $(seq 1 "$QK_RUNS"); do
            t0=$(now); report; t1=$(now)
            sqlite3 "$db" "$anchor" >/dev/null; t2=$(now)
            floor; t3=$(now)
            ratios="$ratios $(echo "($t1 - $t0) / ($t2 - $t1)" | bc -l | cut -c1-5)"
            floors="$floors $(echo "($t1 - $t0) / ($t3 - $t2)" | bc -l | cut -c1-5)"
            walls="$walls $(echo "$t1 - $t0" | bc -l | cut -c1-5)"
            floorwalls="$floorwalls $(echo "$t3 - $t2" | bc -l | cut -c1-5)"
            mems="$mems $(($(cat "$dir/mem") / 1024))"
            # Where the stretch figures stand for most rows: the same report
            # reading every row, as it did before the recorder kept them.
            case $kind in quiet*)
                t4=$(now); report --every-row; t5=$(now)
                everys="$everys $(echo "($t1 - $t0) / ($t5 - $t4)" | bc -l | cut -c1-5)" ;;
            esac
        done
        [ -n "$everys" ] && qk_row "$name, 42.8 M rows, start to PDF" "same report, --every-row" x $everys
        allfloors="${allfloors:-}$floorwalls"
        pages=$(pdfinfo "$dir/$kind.pdf" 2>/dev/null | sed -n 's/^Pages: *//p')
        echo "$kind rows $from..$to, ${pages:-?} pages: ratio$ratios; to floor$floors; seconds$walls; floor seconds$floorwalls; MB$mems" >>"$QK_LOG"
        qk_row "$name, 42.8 M rows, start to PDF" "sqlite3 GROUP BY serialno, same rows" x $ratios
        qk_row "$name, 42.8 M rows, start to PDF" "floor: sqlite3 steps them, 2 halves at once" x $floors
        qk_row "$name, 42.8 M rows, start to PDF (${pages:-?} pages)" "absolute" s $walls
        qk_row "$name, 42.8 M rows, peak memory" "absolute" MB $mems
    done
    qk_row "floor: sqlite3 steps the 42.8 M rows, 2 halves at once" "absolute" s $allfloors
    rm -rf "$dir"
fi
